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
using namespace std::string_literals;

// The one literal pin of the HTTP layer's error reply; the tests elsewhere build it with http_error.
TEST(ErrorResponse, IsTheJsonErrorObjectWithItsLengthAndTheReasonPhrase) {
  for (int status : {200, 401, 404, 405, 408, 412, 413, 500, 501, 503, 400, 201, 403, 409, 0, -1}) {
    EXPECT_EQ(status_reason(status), test::reason_phrase(status)) << status;  // ten phrases, "Bad Request" for the rest
  }
  std::ostringstream bad_header, reason, escaped;
  EXPECT_EQ(write_error_response(bad_header, 400, "bad header"), 400);
  EXPECT_EQ(bad_header.str(), "HTTP/1.1 400 Bad Request\r\nServer: tolvanard\r\nCache-control: no-cache\r\nConnection: close\r\n"
                              "Content-Type: application/json\r\nContent-Length: 47\r\n\r\n{\"status\":400,\"message\":\"bad header\",\"code\":\"\"}");
  EXPECT_EQ(write_error_response(reason, 412), 412);  // an empty message becomes the reason phrase
  EXPECT_EQ(reason.str(), http_error(412, "Precondition Failed"));
  write_error_response(escaped, 503, "say \"no\"");
  EXPECT_EQ(escaped.str(), http_error(503, "say \"no\""));
}

// The reply's Content-Length counts the bytes after its first empty line; a reply without a
// Content-Type line first is a 500. Level 1 tells the status and size and every failure.
TEST(DispatcherFraming, WritesTheExpectedBytesAndLines) {
  const auto head = [](int status) { return test::header_block(status); };
  const std::string no_content_type = http_error(500, "bad response (no CONTENT-TYPE header)"), sized = "Velquor returned status 200 with 2 bytes\n";
  const std::string not_first = sized + "Velquor response missing Content-Type header as first line\n";
  const struct {
    int status;
    std::string reply, wire;
    int returned;
    std::string lines;
  } cases[] = {
      {200, "", head(200) + "\r\n", 0, "Velquor returned status 200 with no content\n"},
      {401, "", http_error(401, "Unauthorized"), 401, "Velquor returned status 401 without error info\n"},
      {409, "Content-Type:text/plain\r\n\r\nbusy", head(409) + "Content-Length: 4\r\nContent-Type:text/plain\r\n\r\nbusy", 0, "Velquor returned status 409 with 4 bytes\n"},
      {200, "content-type:text/plain\r\n\r\n\0\xFF"s, head(200) + "Content-Length: 2\r\ncontent-type:text/plain\r\n\r\n\0\xFF"s, 0, sized},
      {200, "Content-Type : x\r\n\r\nhi", no_content_type, 500, not_first},
      {200, "Location: x\r\n\r\nhi", no_content_type, 500, not_first},
      {200, "Content-Type\r\nX: y\r\n\r\nhi", http_error(500, "bad response (no ':' after CONTENT-TYPE)"), 500, sized + "Velquor response invalid header in first line (missing ':')\n"},
      {200, "Content-Type:text/plain\r\nhello", head(200) + "Content-Type:text/plain\r\nhello", 0, "Velquor returned status 200 with 0 bytes\n"},  // no empty line: no length
      {201, "Content-Type:text/plain\r\n\r\n", head(201) + "Content-Type:text/plain\r\n\r\n", 0, "Velquor returned status 201 with 0 bytes\n"},  // nothing after it: none
      {200, "Content-Type:x\r\nX-A: 1\r\n\r\n\r\n\r\nab", head(200) + "Content-Length: 6\r\nContent-Type:x\r\nX-A: 1\r\n\r\n\r\n\r\nab", 0, "Velquor returned status 200 with 6 bytes\n"},
  };
  const settings config{.debug_level = 1};
  for (const auto& c : cases) {
    std::ostringstream out;
    testing::internal::CaptureStderr();
    EXPECT_EQ(write_dispatcher_response(out, config, c.status, c.reply), c.returned) << c.reply;
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.lines) << c.reply;
    EXPECT_EQ(out.str(), c.wire) << c.reply;
  }
}

// A buffer whose every write fails, as a socket does after the peer has gone.
struct failing_buffer : std::streambuf {
  int_type overflow(int_type) override { return traits_type::eof(); }
};

TEST(FixedReply, WritesTheTextAsItStandsAndSwallowsTheStreamsExceptions) {
  std::ostringstream out, memory;
  out << "partial";
  write_fixed_reply(out, unknown_error_reply);
  EXPECT_EQ(out.str(), "partial" + test::unknown_error_response());
  write_fixed_reply(memory, out_of_memory_reply);
  EXPECT_EQ(memory.str(), test::out_of_memory_response());
  failing_buffer buffer;
  std::ostream failing(&buffer);
  failing.exceptions(std::ios::badbit);
  EXPECT_NO_THROW(write_fixed_reply(failing, out_of_memory_reply));
}

}  // namespace
}  // namespace ombrix
