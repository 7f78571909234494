#include "http/request_handler.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string>
#include <thread>

#include "http/memory_stream.h"
#include "http/response_writer.h"
#include "server/request_context.h"
#include "server/settings.h"
#include "tests/http/http_test_support.h"

// The largest single allocation made through operator new since the last reset, so that a test
// can show that a request's memory follows the bytes that arrive, not the length it announces.
namespace {
std::atomic<std::size_t> largest_allocation{0};

void* tracked_allocate(std::size_t size) {
  std::size_t seen = largest_allocation.load(std::memory_order_relaxed);
  while (size > seen && !largest_allocation.compare_exchange_weak(seen, size)) {
  }
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
}  // namespace

void* operator new(std::size_t size) { return tracked_allocate(size); }
void* operator new[](std::size_t size) { return tracked_allocate(size); }
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return tracked_allocate(size);
  } catch (...) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }
void operator delete[](void* block, std::size_t) noexcept { std::free(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept { std::free(block); }
void operator delete[](void* block, const std::nothrow_t&) noexcept { std::free(block); }

namespace ombrix {
namespace {

using namespace std::string_literals;

constexpr std::int32_t connection_number = 42;
constexpr std::uint16_t server_port = 3181;
constexpr char peer_text[] = "127.0.0.1";

using test::bad_request;
using test::debug_level_guard;
using test::error_response;

const std::string ok_reply = "Content-Type:application/json\r\n\r\n{\"ok\":true}\r\n";
const std::string ok_response =
    "HTTP/1.1 200 OK\r\nServer: tolvanard\r\nCache-control: no-cache\r\nConnection: close\r\n"
    "Content-Length: 13\r\n" + ok_reply;
const std::string method_not_allowed = error_response(
    "HTTP/1.1 405 Method Not Allowed",
    "{\"status\":405,\"message\":\"Method Not Allowed\",\"code\":\"\"}");
const std::string path_missing = bad_request("path missing");
const std::string bad_header = bad_request("bad header");
const std::string missing_host = bad_request("missing HOST header");
const std::string bad_content_length = bad_request("bad content-length");
const std::string bad_query_string = bad_request("bad query string");

// What the stand-in dispatcher does and what it saw.
enum class outcome { reply, throw_runtime_error, throw_bad_alloc };

struct script {
  int status = 200;
  std::string reply = ok_reply;
  outcome action = outcome::reply;
};

struct recorded_call {
  bool called = false;
  std::int32_t connection = 0;
  std::string environment;
  std::string body;
};

rest_dispatcher stand_in(const script& plan, recorded_call& call) {
  return [&plan, &call](std::int32_t connection, const std::string& environment,
                        const std::string& body, std::string& reply) {
    call = {true, connection, environment, body};
    if (plan.action == outcome::throw_runtime_error) throw std::runtime_error("host failure");
    if (plan.action == outcome::throw_bad_alloc) throw std::bad_alloc();
    reply = plan.reply;
    return plan.status;
  };
}

struct exchange {
  std::string response;
  int returned = -1;
  recorded_call call;
};

void set_timeouts(int socket, int seconds) {
  const timeval limit{seconds, 0};
  setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
}

// Serves `request` through handle_http_request on one end of a socket pair while this thread
// plays the client on the other: it sends the request, half-closes when asked, and reads the
// response until the server closes.
exchange over_socket_pair(std::string_view request, const script& plan, bool half_close) {
  int ends[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    ADD_FAILURE() << "socketpair failed";
    return {};
  }
  set_timeouts(ends[0], 5);   // the listener gives accepted sockets these limits
  set_timeouts(ends[1], 10);  // a fault in the server must not hang the test
  exchange result;
  const request_context context{peer_text, peer_text, ends[0], server_port, connection_number};
  const rest_dispatcher dispatch = stand_in(plan, result.call);
  std::thread server([&] {
    result.returned = handle_http_request(context, dispatch);
    shutdown(ends[0], SHUT_RDWR);
    close(ends[0]);
  });
  for (std::size_t sent = 0; sent < request.size();) {
    const ssize_t n = send(ends[1], request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
    if (n <= 0) break;  // the server may answer and close before reading everything
    sent += static_cast<std::size_t>(n);
  }
  if (half_close) shutdown(ends[1], SHUT_WR);
  char block[4096];
  for (ssize_t n; (n = recv(ends[1], block, sizeof block, 0)) > 0;) {
    result.response.append(block, static_cast<std::size_t>(n));
  }
  server.join();
  close(ends[1]);
  return result;
}

exchange over_memory(std::string_view request, const script& plan) {
  exchange result;
  memory_stream stream(request);
  const request_origin origin{peer_text, peer_text, server_port, connection_number};
  result.returned = serve_http_request(stream, origin, stand_in(plan, result.call));
  result.response = stream.output();
  return result;
}

struct request_case {
  const char* name;
  std::string request;
  std::string response;
  int returned = 0;
  // The server needs the end of input (the client's half-close) to finish the request.
  bool needs_end_of_input = false;
  // When the dispatcher is reached (an empty environment: it must not be): what it must see.
  std::string environment = {};
  std::string body = {};
  script plan = {};
};

// Keeps failure messages short: the name tells the case.
void PrintTo(const request_case& c, std::ostream* out) { *out << c.name; }

// The environment text: the peer lines, then `lines` with '|' standing for CR LF.
std::string env(std::string_view lines) {
  std::string text = "REMOTE_ADDR=127.0.0.1\r\nREMOTE_HOST=127.0.0.1\r\n";
  for (char c : lines) c == '|' ? text.append("\r\n") : text.append(1, c);
  return text.append("\r\n");
}

request_case served(const char* name, std::string request, std::string_view lines,
                    std::string body = {}, bool needs_end_of_input = false) {
  return {name, std::move(request), ok_response, 0, needs_end_of_input, env(lines), std::move(body)};
}

const std::string binary_body = std::string(300, '\xFF') + "\0\x01\xFE\xFF\0"s +
                                std::string(200, '\0') + "\xFF";
const std::string form_type = "Content-Type: application/x-www-form-urlencoded\r\n";

std::vector<request_case> request_cases() {
  const std::string unknown_error(unknown_error_reply);
  std::vector<request_case> cases = {
      // Checks in their order: method, path, headers, HOST, body length.
      {"lower_case_method", "get / HTTP/1.1\r\nHost: h\r\n\r\n", method_not_allowed, 405},
      {"empty_connection", "", method_not_allowed, 405, true},
      {"unknown_method", "PATCH / HTTP/1.1\r\nHost: h\r\n\r\n", method_not_allowed, 405},
      {"blank_request_line", "\r\nHost: h\r\n\r\n", method_not_allowed, 405},
      {"absolute_form_target", "GET http://h/x HTTP/1.1\r\nHost: h\r\n\r\n", path_missing, 400},
      {"no_target", "GET\r\nHost: h\r\n\r\n", path_missing, 400},
      {"query_without_path", "GET ?a=1 HTTP/1.1\r\nHost: h\r\n\r\n", path_missing, 400},
      {"path_checked_before_headers", "GET x HTTP/1.1\r\nno colon\r\n\r\n", path_missing, 400},
      {"header_without_colon", "GET / HTTP/1.1\r\nHost: h\r\nNoColon\r\n\r\n", bad_header, 400},
      {"bad_header_checked_before_host", "GET / HTTP/1.1\r\nNoColon\r\n\r\n", bad_header, 400},
      {"missing_host", "GET / HTTP/1.1\r\nX-A: 1\r\n\r\n", missing_host, 400},
      {"blank_host", "GET / HTTP/1.1\r\nHost:  \t \r\n\r\n", missing_host, 400},
      {"blank_before_colon_of_host", "GET / HTTP/1.1\r\nHost : a\r\n\r\n", missing_host, 400},
      {"host_checked_before_body", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nab", missing_host, 400, true},
      {"short_body", "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nabc", bad_content_length, 400, true},
      {"huge_content_length", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 2000000000\r\n\r\nabcde",
       bad_content_length, 400, true},
      // 4294967301 wraps around to 5 in 32 bits, which would make "abcde" a complete body.
      {"content_length_saturates", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 4294967301\r\n\r\nabcde",
       bad_content_length, 400, true},
      {"malformed_escape_in_query", "GET /x?a=1&b=%zz HTTP/1.1\r\nHost: h\r\n\r\n", unknown_error, 500},
      {"malformed_escape_in_form", "POST /x HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 5\r\n\r\na=%zz",
       unknown_error, 500},
      {"line_break_in_query", "GET /x?a=1%0D%0AQS_ADMIN=1 HTTP/1.1\r\nHost: h\r\n\r\n", bad_query_string, 400},
      {"line_break_in_form", "POST /x HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 7\r\n\r\na=1%0Ab",
       bad_query_string, 400},

      served("full_environment",
             "POST /quelm/restfs/file/X?b=2&a=1&a=3 HTTP/1.1\r\nHost: localhost:3181\r\nX-Token: first\r\n" +
                 form_type + "x-token: second\r\nRemote-User: alice\r\nContent-Length: 7\r\n"
                 "Authorization: Bearer abc\r\n\r\nc=4&d=5",
             "REMOTE_USER=alice|PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=application/x-www-form-urlencoded|"
             "CONTENT_LENGTH=7|REQUEST_METHOD=POST|PATH_INFO=/quelm/restfs/file/X|SERVER_PORT=3181|"
             "HTTP_AUTHORIZATION=Bearer abc|HTTP_CONTENT_LENGTH=7|"
             "HTTP_CONTENT_TYPE=application/x-www-form-urlencoded|HTTP_HOST=localhost:3181|"
             "HTTP_REMOTE_USER=alice|HTTP_X_TOKEN=first|QS_B=2|QS_A=1|QS_A=3|QS_C=4|QS_D=5",
             "c=4&d=5"),
      served("path_and_query", "GET /quelm/restfs/dir?x=1 HTTP/1.1\r\nhost: h\r\n\r\n",
             "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/quelm/restfs/dir|SERVER_PORT=3181|"
             "HTTP_HOST=h|QS_X=1"),
      served("path_not_decoded", "GET /a%20b+c?q=%41 HTTP/1.1\r\nHOST: h\r\n\r\n",
             "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/a%20b+c|SERVER_PORT=3181|HTTP_HOST=h|QS_Q=A"),
      served("content_length_not_a_number", "GET /x HTTP/1.1\r\nHost: h\r\nContent-Length: abc\r\n\r\nxyz",
             "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/x|SERVER_PORT=3181|"
             "HTTP_CONTENT_LENGTH=abc|HTTP_HOST=h"),
      served("negative_content_length_reads_no_body", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: -5\r\n\r\nxyz",
             "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=-5|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|"
             "HTTP_CONTENT_LENGTH=-5|HTTP_HOST=h"),
      served("atoi_like_content_length", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: +3xyz\r\n\r\nabcdef",
             "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=3|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|"
             "HTTP_CONTENT_LENGTH=+3xyz|HTTP_HOST=h",
             "abc"),
      served("form_with_parameters_not_parsed",
             "POST /x?q=0 HTTP/1.1\r\nHost: h\r\nContent-Type: application/x-www-form-urlencoded; charset=utf-8\r\n"
             "Content-Length: 7\r\n\r\na=1&b=2",
             "PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=application/x-www-form-urlencoded; charset=utf-8|"
             "CONTENT_LENGTH=7|REQUEST_METHOD=POST|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=7|"
             "HTTP_CONTENT_TYPE=application/x-www-form-urlencoded; charset=utf-8|HTTP_HOST=h|QS_Q=0",
             "a=1&b=2"),
      served("form_type_ignores_letter_case",
             "POST /x?q=0 HTTP/1.1\r\nHost: h\r\nContent-Type: Application/X-WWW-Form-Urlencoded\r\n"
             "Content-Length: 7\r\n\r\na=1&b=2",
             "PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=Application/X-WWW-Form-Urlencoded|CONTENT_LENGTH=7|"
             "REQUEST_METHOD=POST|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=7|"
             "HTTP_CONTENT_TYPE=Application/X-WWW-Form-Urlencoded|HTTP_HOST=h|QS_Q=0|QS_A=1|QS_B=2",
             "a=1&b=2"),
      served("form_only_for_post", "PUT /x HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 3\r\n\r\na=1",
             "PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=application/x-www-form-urlencoded|CONTENT_LENGTH=3|"
             "REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=3|"
             "HTTP_CONTENT_TYPE=application/x-www-form-urlencoded|HTTP_HOST=h",
             "a=1"),
      served("binary_body_unchanged",
             "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(binary_body.size()) + "\r\n\r\n" +
                 binary_body,
             "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=506|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|"
             "HTTP_CONTENT_LENGTH=506|HTTP_HOST=h",
             binary_body),
      served("header_names_in_byte_order_values_trimmed",
             "OPTIONS /x HTTP/1.1\nX-A:\t v \t\nX B: 1\n:empty\nHost: h\n\n",
             "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=OPTIONS|PATH_INFO=/x|SERVER_PORT=3181|HTTP_=empty|"
             "HTTP_HOST=h|HTTP_X B=1|HTTP_X_A=v"),
      served("no_protocol_version", "DELETE /x\r\nHost: h\r\n\r\n",
             "REQUEST_METHOD=DELETE|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h"),
      served("extra_words_ignored", "HEAD  /x   HTTP/1.0 more words\r\nHost: h\r\n\r\n",
             "PROTOCOL_VERSION=HTTP/1.0|REQUEST_METHOD=HEAD|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h"),
      served("headers_ended_by_end_of_input", "GET /x HTTP/1.1\r\nHost: h\r\n",
             "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h", "", true),
  };

  // What the dispatcher returns is framed, or replaced by the matching 500 reply.
  const std::string not_found_reply =
      "Content-Type:application/json\r\n\r\n{\"status\":404,\"message\":\"Item not found\",\"code\":\"202\"}";
  const std::pair<script, request_case> outcomes[] = {
      {{404, not_found_reply},
       {"dispatcher_not_found", "", "HTTP/1.1 404 Not Found\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
                                    "Connection: close\r\nContent-Length: 54\r\n" + not_found_reply, 0}},
      {{401, ""},
       {"dispatcher_unauthorized_without_text", "",
        error_response("HTTP/1.1 401 Unauthorized", "{\"status\":401,\"message\":\"Unauthorized\",\"code\":\"\"}"),
        401}},
      {{200, "Location: /\r\n\r\n{}"},
       {"dispatcher_text_without_content_type", "",
        error_response("HTTP/1.1 500 Internal Error",
                       "{\"status\":500,\"message\":\"bad response (no CONTENT-TYPE header)\",\"code\":\"\"}"),
        500}},
      {{200, ok_reply, outcome::throw_runtime_error}, {"dispatcher_exception", "", unknown_error, 500}},
      {{200, ok_reply, outcome::throw_bad_alloc},
       {"dispatcher_out_of_memory", "", std::string(out_of_memory_reply), 500}},
  };
  for (const auto& [plan, expected] : outcomes) {
    request_case c = expected;
    c.request = "GET /x HTTP/1.1\r\nHost: h\r\n\r\n";
    c.environment = env("PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h");
    c.plan = plan;
    cases.push_back(c);
  }
  return cases;
}

enum class transport { socket_pair, memory };

class RequestReader
    : public testing::TestWithParam<std::tuple<request_case, transport>> {};

TEST_P(RequestReader, AnswersByteExactAndPassesTheRequestOn) {
  const auto& [c, how] = GetParam();
  const exchange result = how == transport::socket_pair
                              ? over_socket_pair(c.request, c.plan, c.needs_end_of_input)
                              : over_memory(c.request, c.plan);
  EXPECT_EQ(result.response, c.response);
  EXPECT_EQ(result.returned, c.returned);
  EXPECT_EQ(result.call.called, !c.environment.empty());
  if (result.call.called) {
    EXPECT_EQ(result.call.connection, connection_number);
    EXPECT_EQ(result.call.environment, c.environment);
    EXPECT_EQ(result.call.body, c.body);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Requests, RequestReader,
    testing::Combine(testing::ValuesIn(request_cases()),
                     testing::Values(transport::socket_pair, transport::memory)),
    [](const testing::TestParamInfo<std::tuple<request_case, transport>>& info) {
      return std::string(std::get<0>(info.param).name) +
             (std::get<1>(info.param) == transport::socket_pair ? "_socket" : "_memory");
    });

TEST(RequestReaderMemory, HugeContentLengthAllocatesOnlyWhatArrives) {
  const std::string request =
      "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 2000000000\r\n\r\nabcde";
  largest_allocation = 0;
  const exchange result = over_socket_pair(request, script{}, true);
  EXPECT_EQ(result.response, bad_content_length);
  EXPECT_FALSE(result.call.called);
  EXPECT_LT(largest_allocation.load(), std::size_t{1} << 20);
}

TEST(RequestReaderMemory, LargeBodyArrivesWhole) {
  // Larger than one growth step of the body buffer, and not a multiple of it.
  std::string body(200'001, 'x');
  for (std::size_t i = 0; i < body.size(); i += 977) body[i] = static_cast<char>(i & 0xFF);
  const std::string request = "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
  for (const transport how : {transport::socket_pair, transport::memory}) {
    const exchange result = how == transport::socket_pair
                                ? over_socket_pair(request, script{}, false)
                                : over_memory(request, script{});
    EXPECT_EQ(result.response, ok_response);
    EXPECT_EQ(result.call.body, body);
  }
}

// Regression: a request line or header section without a line end used to grow without bound
// for as long as the client kept sending.
TEST(RequestReaderMemory, HeadBeyondOneMebibyteIsRefusedWithoutGrowingFurther) {
  const std::string too_large = error_response(
      "HTTP/1.1 413 Payload Too Large",
      R"({"status":413,"message":"request header too large","code":""})");
  const std::string long_url(1024 * 1024 + 1, 'a');
  const std::string flood_header = "X-Flood: " + std::string(64 * 1024, 'b') + "\r\n";
  std::string flood;
  for (int i = 0; i < 17; ++i) flood += flood_header;
  const struct {
    const char* name;
    std::string request;
    std::string response;
  } cases[] = {
      {"endless request line", "GET /" + long_url, too_large},
      {"header flood", "GET /x HTTP/1.1\r\nHost: h\r\n" + flood + "\r\n", too_large},
      {"long url within the bound",
       "GET /" + std::string(512 * 1024, 'a') + " HTTP/1.1\r\nHost: h\r\n\r\n", ok_response},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    largest_allocation = 0;
    const exchange result = over_memory(c.request, script{});
    EXPECT_EQ(result.response, c.response);
    EXPECT_EQ(result.call.called, c.response == ok_response);
    EXPECT_LT(largest_allocation.load(), std::size_t{4} << 20);
  }
}

TEST(ContentLength, ReadsLikeAtoiAndSaturates) {
  const std::pair<std::string_view, std::int32_t> cases[] = {
      {"", 0}, {"abc", 0}, {"12", 12}, {" \t\v\f\r\n12", 12}, {"+7x", 7}, {"-5", -5}, {"- 5", 0},
      {"1 2", 1}, {"007", 7}, {"2147483647", 2147483647}, {"2147483648", 2147483647},
      {"4294967301", 2147483647}, {"99999999999999999999999", 2147483647},
      {"-2147483648", -2147483647 - 1}, {"-2147483649", -2147483647 - 1},
      {"-99999999999999999999999", -2147483647 - 1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(parse_content_length(text), value) << text;
}

// The diagnostic text: `lines` with '|' standing for a line end.
std::string diagnostic(std::string_view lines) {
  std::string text;
  for (char c : lines) text.append(1, c == '|' ? '\n' : c);
  return text;
}

TEST(RequestDiagnostics, WritesTheExpectedLinesAtEachLevel) {
  const std::string traced =
      "POST /x?a=1 HTTP/1.1\r\nHost: h\r\nX-Token: one\r\nx-token: two\r\nContent-Length: 2\r\n\r\nab";
  const std::string reply_trace =
      "Calling Velquor|Velquor returned status 200 with 13 bytes|  Content-Type:application/json|  |"
      "  {\"ok\":true}|";
  const struct {
    int level;
    std::string request, lines;
  } cases[] = {
      {0, traced, ""},
      {1, traced, "HTTP request: POST /x?a=1 HTTP/1.1|Velquor returned status 200 with 13 bytes|"},
      {2, traced,
       "Begin HTTP Request|HTTP request: POST /x?a=1 HTTP/1.1|HTTP request headers:|  HTTP_HOST: h|"
       "  HTTP_X-TOKEN: one|  HTTP_X-TOKEN: two|  HTTP_CONTENT-LENGTH: 2|  REMOTE_ADDR=127.0.0.1|"
       "  REMOTE_HOST=127.0.0.1|  PROTOCOL_VERSION=HTTP/1.1|  CONTENT_LENGTH=2|  REQUEST_METHOD=POST|"
       "  PATH_INFO=/x|  SERVER_PORT=3181|  body appears to contain binary data|  QS_A=1|" + reply_trace},
      {2, "POST / HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 8\r\n\r\n{a=1&b=2",
       "Begin HTTP Request|HTTP request: POST / HTTP/1.1|HTTP request headers:|  HTTP_HOST: h|"
       "  HTTP_CONTENT-TYPE: application/x-www-form-urlencoded|  HTTP_CONTENT-LENGTH: 8|"
       "  REMOTE_ADDR=127.0.0.1|  REMOTE_HOST=127.0.0.1|  PROTOCOL_VERSION=HTTP/1.1|"
       "  CONTENT_TYPE=application/x-www-form-urlencoded|  CONTENT_LENGTH=8|  REQUEST_METHOD=POST|"
       "  PATH_INFO=/|  SERVER_PORT=3181|HTTP request body:|  {a=1&b=2|  QS_{A=1|  QS_B=2|"
       "Parsing form variables as query string|" + reply_trace},
      {1, "get / HTTP/1.1\r\nHost: h\r\n\r\n", "HTTP request: get / HTTP/1.1|Illegal HTTP method get|"},
      {1, "", "HTTP request: |Illegal HTTP method |"},
      {1, "GET x HTTP/1.1\r\n\r\n", "HTTP request: GET x HTTP/1.1|Path missing from URL|"},
      {1, "GET / HTTP/1.1\r\nbroken line\r\n\r\n",
       "HTTP request: GET / HTTP/1.1|HTTP request invalid header line: broken line|"},
      {1, "GET / HTTP/1.1\r\n\r\n", "HTTP request: GET / HTTP/1.1|HTTP request missing HOST header!|"},
      {1, "PUT / HTTP/1.1\r\nHost: h\r\nContent-Length: 4294967301\r\n\r\nabc",
       "HTTP request: PUT / HTTP/1.1|Actual content size 3 differs from Content-Length header 2147483647|"},
      {1, "GET /?a=%0A HTTP/1.1\r\nHost: h\r\n\r\n",
       "HTTP request: GET /?a=%0A HTTP/1.1|HTTP request query string holds CR or LF|"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    debug_level_guard guard(c.level);
    testing::internal::CaptureStderr();
    over_socket_pair(c.request, script{}, true);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), diagnostic(c.lines));
  }
}

}  // namespace
}  // namespace ombrix
