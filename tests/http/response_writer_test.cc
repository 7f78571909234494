#include "http/response_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>

#include "base/settings.h"
#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

using test::http_error;

TEST(StatusReason, HasTenPhrasesAndBadRequestForEverythingElse) {
  EXPECT_EQ(status_reason(412), "Precondition Failed");
  for (int status : {200, 401, 404, 405, 408, 412, 413, 500, 501, 503, 400, 201, 403, 409, 0, -1}) {
    EXPECT_EQ(status_reason(status), test::reason_phrase(status)) << status;
  }
}

TEST(ReplaceFirst, ReplacesOnlyTheFirstOccurrence) {
  struct {
    std::string_view text, from, to, expected;
  } const cases[] = {{"a$$Xb$$X", "$$X", "1", "a1b$$X"},
                     {"none here", "$$X", "1", "none here"},
                     {"$$X", "$$X", "", ""},
                     {"", "$$X", "1", ""},
                     {"ab", "b", "bbb", "abbb"}};
  for (const auto& c : cases) EXPECT_EQ(replace_first(c.text, c.from, c.to), c.expected) << c.text;
}

TEST(HeaderBlock, FillsStatusAndReasonIntoTheTemplates) {
  EXPECT_EQ(header_block(dispatcher_header_template, 200),
            "HTTP/1.1 200 OK\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
            "Connection: close\r\n");
  EXPECT_EQ(header_block(error_header_template, 503),
            "HTTP/1.1 503 Service Unavailable\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
            "Connection: close\r\nContent-Type: application/json\r\n");
  EXPECT_EQ(header_block(dispatcher_header_template, -7).substr(0, 25), "HTTP/1.1 -7 Bad Request\r\n");
}

// The status line and the fixed headers of every reply.
std::string head(int status) { return test::header_block(status); }

TEST(ErrorResponse, IsTheJsonErrorObjectWithItsLength) {
  std::ostringstream bad_header;
  EXPECT_EQ(write_error_response(bad_header, 400, "bad header"), 400);
  EXPECT_EQ(bad_header.str(),
            "HTTP/1.1 400 Bad Request\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
            "Connection: close\r\nContent-Type: application/json\r\nContent-Length: 47\r\n\r\n"
            "{\"status\":400,\"message\":\"bad header\",\"code\":\"\"}");
  std::ostringstream reason;  // an empty message becomes the reason phrase
  EXPECT_EQ(write_error_response(reason, 405), 405);
  EXPECT_EQ(reason.str(), http_error(405, "Method Not Allowed"));
  std::ostringstream escaped;
  write_error_response(escaped, 500, "say \"no\"");
  EXPECT_EQ(escaped.str(), http_error(500, "say \"no\""));
}

TEST(DispatcherFraming, WritesTheExpectedBytes) {
  const std::string not_found =
      "Content-Type:application/json\r\n\r\n{\"status\":404,\"message\":\"Item not found\",\"code\":\"202\"}";
  const std::string no_content_type = http_error(500, "bad response (no CONTENT-TYPE header)");
  const struct {
    int status;
    std::string reply, wire;
    int returned;
  } cases[] = {
      {404, not_found, head(404) + "Content-Length: 54\r\n" + not_found, 0},
      {200, "", head(200) + "\r\n", 0},
      {401, "", http_error(401, "Unauthorized"),
       401},
      {409, "Content-Type:text/plain\r\n\r\nbusy",
       head(409) + "Content-Length: 4\r\nContent-Type:text/plain\r\n\r\nbusy", 0},
      {200, "content-type:text/plain\r\n\r\nhi",
       head(200) + "Content-Length: 2\r\ncontent-type:text/plain\r\n\r\nhi", 0},
      {200, "Content-Type : x\r\n\r\nhi", no_content_type, 500},
      {200, "Location: x\r\n\r\nhi", no_content_type, 500},
      {200, "Content-Type\r\nX: y\r\n\r\nhi",
       http_error(500, "bad response (no ':' after CONTENT-TYPE)"),
       500},
      // A text without an empty line, or with nothing after it, gets no length.
      {200, "Content-Type:text/plain\r\nhello", head(200) + "Content-Type:text/plain\r\nhello", 0},
      {201, "Content-Type:text/plain\r\n\r\n", head(201) + "Content-Type:text/plain\r\n\r\n", 0},
      {200, "Content-Type:x\r\nX-A: 1\r\n\r\n\r\n\r\nab",
       head(200) + "Content-Length: 6\r\nContent-Type:x\r\nX-A: 1\r\n\r\n\r\n\r\nab", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.reply);
    std::ostringstream out;
    EXPECT_EQ(write_dispatcher_response(out, default_settings, c.status, c.reply), c.returned);
    EXPECT_EQ(out.str(), c.wire);
  }
}

TEST(ReplyBodyLength, CountsTheBytesAfterTheFirstEmptyLine) {
  EXPECT_EQ(reply_body_length(""), 0u);
  EXPECT_EQ(reply_body_length("Content-Type:x\r\n"), 0u);
  EXPECT_EQ(reply_body_length("Content-Type:x\r\n\r\n"), 0u);
  EXPECT_EQ(reply_body_length(std::string("Content-Type:x\r\n\r\n\0\xFF", 20)), 2u);
}

TEST(FixedReply, WritesTheTextAsItStands) {
  std::ostringstream out;
  out << "partial";
  write_fixed_reply(out, unknown_error_reply);
  EXPECT_EQ(out.str(), "partial" + test::unknown_error_response());
  std::ostringstream memory;
  write_fixed_reply(memory, out_of_memory_reply);
  EXPECT_EQ(memory.str(), test::out_of_memory_response());
}

// A buffer whose every write fails, as a socket does after the peer has gone.
class failing_buffer : public std::streambuf {
 protected:
  int_type overflow(int_type) override { return traits_type::eof(); }
  std::streamsize xsputn(const char*, std::streamsize) override { return 0; }
};

TEST(FixedReply, SwallowsTheStreamsExceptions) {
  failing_buffer buffer;
  std::ostream out(&buffer);
  out.exceptions(std::ios::badbit);
  EXPECT_NO_THROW(write_fixed_reply(out, out_of_memory_reply));
  EXPECT_TRUE(out.bad());
}

// Level 1 tells the status and size and every failure, level 2 also dumps the text.
TEST(FramingDiagnostics, WritesTheExpectedLinesAtEachLevel) {
  const std::string reply = "Content-Type:application/json\r\n\r\n{\"a\":1}\r\n";
  const std::string sized = "Velquor returned status 200 with 9 bytes\n";
  const struct {
    int level, status;
    std::string reply, expected;
  } cases[] = {
      {0, 200, reply, ""},
      {1, 200, reply, sized},
      {2, 200, reply, sized + "  Content-Type:application/json\n  \n  {\"a\":1}\n"},
      {1, 409, "", "Velquor returned status 409 without error info\n"},
      {1, 200, "", "Velquor returned status 200 with no content\n"},
      {1, 200, "Location: x\r\n\r\n",
       "Velquor returned status 200 with 0 bytes\nVelquor response missing Content-Type header as first line\n"},
      {1, 200, "garbage",
       "Velquor returned status 200 with 0 bytes\nVelquor response invalid header in first line (missing ':')\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.level) + " " + c.reply);
    const settings config{.debug_level = c.level};
    std::ostringstream out;
    testing::internal::CaptureStderr();
    write_dispatcher_response(out, config, c.status, c.reply);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.expected);
  }
}

}  // namespace
}  // namespace ombrix
