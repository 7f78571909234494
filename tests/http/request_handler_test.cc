#include "http/request_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>

#include "http/memory_budget.h"
#include "http/memory_stream.h"
#include "http/response_writer.h"
#include "base/settings.h"
#include "tests/http/request_cases.h"

namespace ombrix {
namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using namespace test;

exchange over_memory(std::string_view request, const script& plan = {}, const request_services& services = {}) {
  exchange result;
  memory_stream stream(request);
  const request_origin origin{peer_text, peer_text, server_port, connection_number};
  result.returned = serve_http_request(stream, origin, stand_in(plan, result.call), services);
  result.response = stream.output();
  return result;
}

class RequestReader : public testing::TestWithParam<request_case> {};

TEST_P(RequestReader, AnswersByteExactAndPassesTheRequestOn) { expect_exchange(GetParam(), over_memory(GetParam().request, GetParam().plan)); }

INSTANTIATE_TEST_SUITE_P(Requests, RequestReader, testing::ValuesIn(request_cases()),
                         [](const testing::TestParamInfo<request_case>& info) { return std::string(info.param.name); });

// Regression: a body of any size was read and held, seven times over by the time it was
// stored; one beyond the item limit is refused as soon as it passes the limit, and the
// dispatcher is never called. A short body is still a bad Content-Length, whatever it announced.
TEST(RequestReaderMemory, BodyBeyondTheLimitIsRefusedAsSoonAsItPassesIt) {
  constexpr std::size_t limit = 128 * 1024 * 1024;
  const std::string over(limit + 1, 'x');
  for (const std::string& length : {std::to_string(limit + 1), std::string("2147483647")}) {
    const exchange result = over_memory("PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " + length + "\r\n\r\n" + over);
    EXPECT_EQ(result.response, http_error(413, "request body too large")) << length;
    EXPECT_FALSE(result.call.called);
  }
  EXPECT_EQ(over_memory("PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(limit + 1) + "\r\n\r\n{}").response, bad_content_length);
}

// Regression: a request line or header section without a line end used to grow without bound
// for as long as the client kept sending.
TEST(RequestReaderMemory, HeadBeyondOneMebibyteIsRefused) {
  std::string flood;
  for (int i = 0; i < 17; ++i) flood += "X-Flood: " + std::string(64 * 1024, 'b') + "\r\n";
  for (const std::string& request : {"GET /" + std::string(1024 * 1024 + 1, 'a'), "GET /x HTTP/1.1\r\nHost: h\r\n" + flood + "\r\n"}) {
    EXPECT_EQ(over_memory(request).response, http_error(413, "request header too large")) << request.substr(0, 40);
  }
  EXPECT_EQ(over_memory("GET /" + std::string(512 * 1024, 'a') + " HTTP/1.1\r\nHost: h\r\n\r\n").response, ok_response);
}

// A client waiting for leave to send its body is answered without it when the head decides.
TEST(ExpectContinue, TheEarlyReplyReplacesTheInterimResponse) {
  const std::string refusal = "Content-Type:application/json\r\n\r\n{\"status\":401,\"message\":\"no\",\"code\":\"\"}";
  const std::string request = "PUT /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 2\r\n\r\nab";
  std::string seen;
  request_services services;
  services.early_reply = [&](const std::string& environment, std::string& reply) { return seen = environment, reply = refusal, 401; };
  EXPECT_EQ(over_memory(request, script{}, services).response, header_block(401) + "Content-Length: 39\r\n" + refusal);
  EXPECT_EQ(seen, env("PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=2|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=2|HTTP_EXPECT=100-continue|HTTP_HOST=h"));
  services.early_reply = [](const std::string&, std::string&) { return 0; };
  EXPECT_EQ(over_memory(request, script{}, services).response, continue_line + ok_response);
}

// Regression: the memory budget was charged only once a body had fully arrived, so half-sent
// bodies and unread replies grew the process without bound. A body is charged piece by piece as
// it arrives, the charge is given back when the request ends, and a body or a large reply that
// the budget cannot take within 2 s is answered 503.
TEST(RequestBudget, BodiesAndRepliesAreChargedWhileTheyAreHeld) {
  memory_budget budget(1024 * 1024);
  request_services services;
  services.budget = &budget;
  const std::string put = "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 200001\r\n\r\n" + std::string(200'001, 'b');
  std::size_t held_during_dispatch = 0;
  memory_stream stream(put);
  serve_http_request(stream, request_origin{}, [&](std::int32_t, const std::string&, const std::string&, dispatch_reply& reply) {
    held_during_dispatch = budget.held();
    reply.text = ok_reply;
    return 200;
  }, services);
  EXPECT_EQ(stream.output(), ok_response);
  EXPECT_EQ(held_during_dispatch, 200'001u * 4);
  EXPECT_EQ(budget.held(), 0u);
  const std::string busy = http_error(503, "server busy, try again later"), get = "GET /x HTTP/1.1\r\nHost: h\r\n\r\n";
  std::optional<memory_budget::lease> other = budget.take(1024 * 1024 - 100'000, 0ms);
  ASSERT_TRUE(other);
  EXPECT_EQ(over_memory(put, script{}, services).response, busy);
  const script large{"Content-Type:text/plain\r\n\r\n" + std::string(200'000, 'r')};
  EXPECT_EQ(over_memory(get, large, services).response, busy);
  EXPECT_EQ(over_memory(get, script{}, services).response, ok_response);  // a small reply is held whatever the budget holds
  other.reset();
  EXPECT_EQ(budget.held(), 0u);
  EXPECT_EQ(over_memory(get, large, services).response.size(), header_block(200).size() + large.reply.size() + 24);
}

TEST(RequestDiagnostics, WritesTheExpectedLinesAtEachLevel) {
  const std::string traced = "POST /x?a=1 HTTP/1.1\r\nHost: h\r\nX-Token: one\r\nx-token: two\r\nContent-Length: 2\r\n\r\nab";
  const std::string reply_trace = "Calling Velquor|Velquor returned status 200 with 13 bytes|  Content-Type:application/json|  |  {\"ok\":true}|";
  const struct {
    int level;
    std::string request, lines;
  } cases[] = {
      {0, traced, ""},
      {1, traced, "HTTP request: POST /x?a=1 HTTP/1.1|Velquor returned status 200 with 13 bytes|"},
      {2, traced, "Begin HTTP Request|HTTP request: POST /x?a=1 HTTP/1.1|HTTP request headers:|  HTTP_HOST: h|  HTTP_X-TOKEN: one|  HTTP_X-TOKEN: two|  HTTP_CONTENT-LENGTH: 2|  REMOTE_ADDR=127.0.0.1|  REMOTE_HOST=127.0.0.1|  PROTOCOL_VERSION=HTTP/1.1|  CONTENT_LENGTH=2|  REQUEST_METHOD=POST|  PATH_INFO=/x|  SERVER_PORT=3181|  body appears to contain binary data|  QS_A=1|" + reply_trace},
      {2, "POST / HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 8\r\n\r\n{a=1&b=2", "Begin HTTP Request|HTTP request: POST / HTTP/1.1|HTTP request headers:|  HTTP_HOST: h|  HTTP_CONTENT-TYPE: application/x-www-form-urlencoded|  HTTP_CONTENT-LENGTH: 8|  REMOTE_ADDR=127.0.0.1|  REMOTE_HOST=127.0.0.1|  PROTOCOL_VERSION=HTTP/1.1|  CONTENT_TYPE=application/x-www-form-urlencoded|  CONTENT_LENGTH=8|  REQUEST_METHOD=POST|  PATH_INFO=/|  SERVER_PORT=3181|HTTP request body:|  {a=1&b=2|  QS_{A=1|  QS_B=2|Parsing form variables as query string|" + reply_trace},
      {1, "get / HTTP/1.1\r\nHost: h\r\n\r\n", "HTTP request: get / HTTP/1.1|Illegal HTTP method get|"},
      {1, "GET x HTTP/1.1\r\n\r\n", "HTTP request: GET x HTTP/1.1|Path missing from URL|"},
      {1, "GET / HTTP/1.1\r\nbroken line\r\n\r\n", "HTTP request: GET / HTTP/1.1|HTTP request invalid header line: broken line|"},
      {1, "GET / HTTP/1.1\r\n\r\n", "HTTP request: GET / HTTP/1.1|HTTP request missing HOST header!|"},
      {1, "PUT / HTTP/1.1\r\nHost: h\r\nContent-Length: 4294967301\r\n\r\nabc", "HTTP request: PUT / HTTP/1.1|Actual content size 3 differs from Content-Length header 2147483647|"},
      {1, "GET /?a=%0A HTTP/1.1\r\nHost: h\r\n\r\n", "HTTP request: GET /?a=%0A HTTP/1.1|HTTP request query string holds CR or LF|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    const settings config{.debug_level = c.level};
    testing::internal::CaptureStderr();
    request_services services;
    services.config = &config;
    over_memory(c.request, script{}, services);
    std::string lines = c.lines;
    std::replace(lines.begin(), lines.end(), '|', '\n');
    EXPECT_EQ(testing::internal::GetCapturedStderr(), lines);
  }
}

}  // namespace
}  // namespace ombrix
