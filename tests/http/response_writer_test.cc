#include "http/response_writer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <streambuf>
#include <string>

#include "server/settings.h"

namespace ombrix {
namespace {

constexpr std::string_view fixed_headers =
    "Server: tolvanard\r\nCache-control: no-cache\r\nConnection: close\r\n";

// The expected bytes of an error response: status line, the fixed headers, the JSON content
// type, the length of `json` and `json` itself.
std::string error_response(std::string_view status_line, std::string_view json) {
  std::string wire(status_line);
  wire.append("\r\n").append(fixed_headers).append("Content-Type: application/json\r\n");
  wire.append("Content-Length: ").append(std::to_string(json.size())).append("\r\n\r\n");
  wire.append(json);
  return wire;
}

class debug_level_guard {
 public:
  explicit debug_level_guard(int level) : saved_(debug_level) { debug_level = level; }
  ~debug_level_guard() { debug_level = saved_; }
  debug_level_guard(const debug_level_guard&) = delete;
  debug_level_guard& operator=(const debug_level_guard&) = delete;

 private:
  int saved_;
};

TEST(StatusReason, HasEightPhrasesAndBadRequestForEverythingElse) {
  const std::pair<int, std::string_view> cases[] = {
      {200, "OK"},          {401, "Unauthorized"},        {404, "Not Found"},
      {405, "Method Not Allowed"}, {413, "Payload Too Large"}, {500, "Internal Error"},
      {501, "Not Implemented"},    {503, "Service Unavailable"}, {400, "Bad Request"},
      {201, "Bad Request"}, {403, "Bad Request"},         {409, "Bad Request"},
      {0, "Bad Request"},   {-1, "Bad Request"}};
  for (const auto& [status, phrase] : cases) EXPECT_EQ(status_reason(status), phrase) << status;
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

TEST(ErrorResponse, BadHeaderIsTheJsonErrorObjectWithItsLength) {
  std::ostringstream out;
  EXPECT_EQ(write_error_response(out, 400, "bad header"), 400);
  EXPECT_EQ(out.str(),
            "HTTP/1.1 400 Bad Request\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
            "Connection: close\r\nContent-Type: application/json\r\nContent-Length: 47\r\n\r\n"
            "{\"status\":400,\"message\":\"bad header\",\"code\":\"\"}");
}

TEST(ErrorResponse, EmptyMessageBecomesTheReasonPhrase) {
  std::ostringstream out;
  EXPECT_EQ(write_error_response(out, 405), 405);
  EXPECT_EQ(out.str(), error_response("HTTP/1.1 405 Method Not Allowed",
                                      "{\"status\":405,\"message\":\"Method Not Allowed\","
                                      "\"code\":\"\"}"));
}

TEST(ErrorResponse, MessageIsEscapedAsJson) {
  std::ostringstream out;
  write_error_response(out, 500, "say \"no\"");
  EXPECT_EQ(out.str(), error_response("HTTP/1.1 500 Internal Error",
                                      "{\"status\":500,\"message\":\"say \\\"no\\\"\","
                                      "\"code\":\"\"}"));
}

constexpr std::string_view not_found_reply =
    "Content-Type:application/json\r\n\r\n"
    "{\"status\":404,\"message\":\"Item not found\",\"code\":\"202\"}";

struct framing_case {
  const char* name;
  int status;
  std::string reply;
  std::string wire;
  int returned;
};

class DispatcherFraming : public testing::TestWithParam<framing_case> {};

TEST_P(DispatcherFraming, WritesTheExpectedBytes) {
  const framing_case& c = GetParam();
  std::ostringstream out;
  EXPECT_EQ(write_dispatcher_response(out, c.status, c.reply), c.returned);
  EXPECT_EQ(out.str(), c.wire);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, DispatcherFraming,
    testing::Values(
        framing_case{"not_found_json", 404, std::string(not_found_reply),
                     "HTTP/1.1 404 Not Found\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                     "Connection: close\r\nContent-Length: 54\r\n" +
                         std::string(not_found_reply),
                     0},
        framing_case{"ok_without_text", 200, "",
                     "HTTP/1.1 200 OK\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                     "Connection: close\r\n\r\n",
                     0},
        framing_case{"unauthorized_without_text", 401, "",
                     error_response("HTTP/1.1 401 Unauthorized",
                                    "{\"status\":401,\"message\":\"Unauthorized\",\"code\":\"\"}"),
                     401},
        framing_case{"conflict_is_bad_request", 409, "Content-Type:text/plain\r\n\r\nbusy",
                     "HTTP/1.1 409 Bad Request\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                     "Connection: close\r\nContent-Length: 4\r\nContent-Type:text/plain\r\n\r\nbusy",
                     0},
        framing_case{"lower_case_content_type_accepted", 200, "content-type:text/plain\r\n\r\nhi",
                     "HTTP/1.1 200 OK\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                     "Connection: close\r\nContent-Length: 2\r\ncontent-type:text/plain\r\n\r\nhi",
                     0},
        framing_case{"blank_before_colon_refused", 200, "Content-Type : x\r\n\r\nhi",
                     error_response("HTTP/1.1 500 Internal Error",
                                    "{\"status\":500,\"message\":\"bad response (no CONTENT-TYPE "
                                    "header)\",\"code\":\"\"}"),
                     500},
        framing_case{"other_header_first_refused", 200, "Location: x\r\n\r\nhi",
                     error_response("HTTP/1.1 500 Internal Error",
                                    "{\"status\":500,\"message\":\"bad response (no CONTENT-TYPE "
                                    "header)\",\"code\":\"\"}"),
                     500},
        framing_case{"no_colon_in_first_line_refused", 200, "Content-Type\r\nX: y\r\n\r\nhi",
                     error_response("HTTP/1.1 500 Internal Error",
                                    "{\"status\":500,\"message\":\"bad response (no ':' after "
                                    "CONTENT-TYPE)\",\"code\":\"\"}"),
                     500},
        framing_case{"text_without_empty_line_has_no_length", 200,
                     "Content-Type:text/plain\r\nhello",
                     "HTTP/1.1 200 OK\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                     "Connection: close\r\nContent-Type:text/plain\r\nhello",
                     0},
        framing_case{"empty_body_has_no_length", 201, "Content-Type:text/plain\r\n\r\n",
                     "HTTP/1.1 201 Bad Request\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                     "Connection: close\r\nContent-Type:text/plain\r\n\r\n",
                     0},
        framing_case{"length_counts_after_first_empty_line", 200,
                     "Content-Type:x\r\nX-A: 1\r\n\r\n\r\n\r\nab",
                     "HTTP/1.1 200 OK\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                     "Connection: close\r\nContent-Length: 6\r\nContent-Type:x\r\nX-A: 1\r\n\r\n"
                     "\r\n\r\nab",
                     0}),
    [](const testing::TestParamInfo<framing_case>& info) { return std::string(info.param.name); });

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
  EXPECT_EQ(out.str(),
            "partialHTTP/1.1 500 Internal Server Error\r\nServer: tolvanard\r\n"
            "Cache-control: no-cache\r\nConnection: close\r\nContent-Type: text/plain\r\n\r\n"
            "Unknown error");
  std::ostringstream memory;
  write_fixed_reply(memory, out_of_memory_reply);
  EXPECT_EQ(memory.str(),
            "HTTP/1.1 500 Internal Server Error\r\nServer: tolvanard\r\n"
            "Cache-control: no-cache\r\nConnection: close\r\nContent-Type: text/plain\r\n\r\n"
            "Out of memory");
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

TEST(FramingDiagnostics, LevelOneTellsStatusAndSizeLevelTwoDumpsTheText) {
  const std::string reply = "Content-Type:application/json\r\n\r\n{\"a\":1}\r\n";
  const std::pair<int, std::string> cases[] = {
      {0, ""},
      {1, "Velquor returned status 200 with 9 bytes\n"},
      {2, "Velquor returned status 200 with 9 bytes\n  Content-Type:application/json\n  \n"
          "  {\"a\":1}\n"}};
  for (const auto& [level, expected] : cases) {
    debug_level_guard guard(level);
    std::ostringstream out;
    testing::internal::CaptureStderr();
    write_dispatcher_response(out, 200, reply);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected) << "level " << level;
  }
}

TEST(FramingDiagnostics, FailuresAreReportedAtLevelOne) {
  debug_level_guard guard(1);
  const std::pair<std::pair<int, std::string>, std::string> cases[] = {
      {{409, ""}, "Velquor returned status 409 without error info\n"},
      {{200, ""}, "Velquor returned status 200 with no content\n"},
      {{200, "Location: x\r\n\r\n"},
       "Velquor returned status 200 with 0 bytes\n"
       "Velquor response missing Content-Type header as first line\n"},
      {{200, "garbage"},
       "Velquor returned status 200 with 0 bytes\n"
       "Velquor response invalid header in first line (missing ':')\n"}};
  for (const auto& [input, expected] : cases) {
    std::ostringstream out;
    testing::internal::CaptureStderr();
    write_dispatcher_response(out, input.first, input.second);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), expected) << input.second;
  }
}

}  // namespace
}  // namespace ombrix
