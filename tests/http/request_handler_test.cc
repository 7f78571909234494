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

constexpr std::string_view fixed_headers =
    "Server: tolvanard\r\nCache-control: no-cache\r\nConnection: close\r\n";

std::string error_response(std::string_view status_line, std::string_view json) {
  std::string wire(status_line);
  wire.append("\r\n").append(fixed_headers).append("Content-Type: application/json\r\n");
  wire.append("Content-Length: ").append(std::to_string(json.size())).append("\r\n\r\n");
  wire.append(json);
  return wire;
}

const std::string ok_reply = "Content-Type:application/json\r\n\r\n{\"ok\":true}\r\n";
const std::string ok_response =
    "HTTP/1.1 200 OK\r\nServer: tolvanard\r\nCache-control: no-cache\r\nConnection: close\r\n"
    "Content-Length: 13\r\n" + ok_reply;

const std::string method_not_allowed = error_response(
    "HTTP/1.1 405 Method Not Allowed",
    "{\"status\":405,\"message\":\"Method Not Allowed\",\"code\":\"\"}");
const std::string path_missing = error_response(
    "HTTP/1.1 400 Bad Request", "{\"status\":400,\"message\":\"path missing\",\"code\":\"\"}");
const std::string bad_header = error_response(
    "HTTP/1.1 400 Bad Request", "{\"status\":400,\"message\":\"bad header\",\"code\":\"\"}");
const std::string missing_host = error_response(
    "HTTP/1.1 400 Bad Request",
    "{\"status\":400,\"message\":\"missing HOST header\",\"code\":\"\"}");
const std::string bad_content_length = error_response(
    "HTTP/1.1 400 Bad Request",
    "{\"status\":400,\"message\":\"bad content-length\",\"code\":\"\"}");
const std::string bad_query_string = error_response(
    "HTTP/1.1 400 Bad Request",
    "{\"status\":400,\"message\":\"bad query string\",\"code\":\"\"}");

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

class debug_level_guard {
 public:
  explicit debug_level_guard(int level) : saved_(debug_level) { debug_level = level; }
  ~debug_level_guard() { debug_level = saved_; }
  debug_level_guard(const debug_level_guard&) = delete;
  debug_level_guard& operator=(const debug_level_guard&) = delete;

 private:
  int saved_;
};

struct request_case {
  const char* name;
  std::string request;
  std::string response;
  int returned;
  // When the dispatcher is reached: the environment and body it must see.
  bool dispatched = false;
  std::string environment = {};
  std::string body = {};
  script plan = {};
  // The server needs the end of input (the client's half-close) to finish the request.
  bool needs_end_of_input = false;
};

// Keeps failure messages short: the name tells the case.
void PrintTo(const request_case& c, std::ostream* out) { *out << c.name; }

request_case refused(const char* name, std::string request, std::string response, int returned,
                     bool needs_end_of_input = false) {
  request_case c{name, std::move(request), std::move(response), returned};
  c.needs_end_of_input = needs_end_of_input;
  return c;
}

request_case served(const char* name, std::string request, std::string environment,
                    std::string body = {}, bool needs_end_of_input = false) {
  request_case c{name, std::move(request), ok_response, 0, true, std::move(environment),
                 std::move(body)};
  c.needs_end_of_input = needs_end_of_input;
  return c;
}

const std::string peer_lines = "REMOTE_ADDR=127.0.0.1\r\nREMOTE_HOST=127.0.0.1\r\n";

const std::string binary_body = std::string(300, '\xFF') + "\0\x01\xFE\xFF\0"s +
                                std::string(200, '\0') + "\xFF";

std::vector<request_case> request_cases() {
  std::vector<request_case> cases;
  // Checks in their order: method, path, headers, HOST, body length.
  cases.push_back(refused("lower_case_method", "get / HTTP/1.1\r\nHost: h\r\n\r\n",
                          method_not_allowed, 405));
  cases.push_back(refused("empty_connection", "", method_not_allowed, 405, true));
  cases.push_back(refused("unknown_method", "PATCH / HTTP/1.1\r\nHost: h\r\n\r\n",
                          method_not_allowed, 405));
  cases.push_back(refused("blank_request_line", "\r\nHost: h\r\n\r\n", method_not_allowed, 405));
  cases.push_back(refused("absolute_form_target", "GET http://h/x HTTP/1.1\r\nHost: h\r\n\r\n",
                          path_missing, 400));
  cases.push_back(refused("no_target", "GET\r\nHost: h\r\n\r\n", path_missing, 400));
  cases.push_back(refused("query_without_path", "GET ?a=1 HTTP/1.1\r\nHost: h\r\n\r\n",
                          path_missing, 400));
  cases.push_back(refused("path_checked_before_headers", "GET x HTTP/1.1\r\nno colon\r\n\r\n",
                          path_missing, 400));
  cases.push_back(refused("header_without_colon",
                          "GET / HTTP/1.1\r\nHost: h\r\nNoColon\r\n\r\n", bad_header, 400));
  cases.push_back(refused("bad_header_checked_before_host", "GET / HTTP/1.1\r\nNoColon\r\n\r\n",
                          bad_header, 400));
  cases.push_back(refused("missing_host", "GET / HTTP/1.1\r\nX-A: 1\r\n\r\n", missing_host, 400));
  cases.push_back(refused("blank_host", "GET / HTTP/1.1\r\nHost:  \t \r\n\r\n", missing_host, 400));
  cases.push_back(refused("blank_before_colon_of_host", "GET / HTTP/1.1\r\nHost : a\r\n\r\n",
                          missing_host, 400));
  cases.push_back(refused("host_checked_before_body",
                          "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nab", missing_host, 400,
                          true));
  cases.push_back(refused("short_body",
                          "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nabc",
                          bad_content_length, 400, true));
  cases.push_back(refused("huge_content_length",
                          "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 2000000000\r\n\r\nabcde",
                          bad_content_length, 400, true));
  // 4294967301 wraps around to 5 in 32 bits, which would make "abcde" a complete body.
  cases.push_back(refused("content_length_saturates",
                          "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 4294967301\r\n\r\nabcde",
                          bad_content_length, 400, true));
  cases.push_back(refused("malformed_escape_in_query",
                          "GET /x?a=1&b=%zz HTTP/1.1\r\nHost: h\r\n\r\n",
                          std::string(unknown_error_reply), 500));
  cases.push_back(refused("malformed_escape_in_form",
                          "POST /x HTTP/1.1\r\nHost: h\r\nContent-Type: "
                          "application/x-www-form-urlencoded\r\nContent-Length: 5\r\n\r\na=%zz",
                          std::string(unknown_error_reply), 500));
  cases.push_back(refused("line_break_in_query",
                          "GET /x?a=1%0D%0AQS_ADMIN=1 HTTP/1.1\r\nHost: h\r\n\r\n",
                          bad_query_string, 400));
  cases.push_back(refused("line_break_in_form",
                          "POST /x HTTP/1.1\r\nHost: h\r\nContent-Type: "
                          "application/x-www-form-urlencoded\r\nContent-Length: 7\r\n\r\na=1%0Ab",
                          bad_query_string, 400));

  cases.push_back(served(
      "full_environment",
      "POST /quelm/restfs/file/X?b=2&a=1&a=3 HTTP/1.1\r\nHost: localhost:3181\r\n"
      "X-Token: first\r\nContent-Type: application/x-www-form-urlencoded\r\n"
      "x-token: second\r\nRemote-User: alice\r\nContent-Length: 7\r\n"
      "Authorization: Bearer abc\r\n\r\nc=4&d=5",
      peer_lines +
          "REMOTE_USER=alice\r\nPROTOCOL_VERSION=HTTP/1.1\r\n"
          "CONTENT_TYPE=application/x-www-form-urlencoded\r\nCONTENT_LENGTH=7\r\n"
          "REQUEST_METHOD=POST\r\nPATH_INFO=/quelm/restfs/file/X\r\nSERVER_PORT=3181\r\n"
          "HTTP_AUTHORIZATION=Bearer abc\r\nHTTP_CONTENT_LENGTH=7\r\n"
          "HTTP_CONTENT_TYPE=application/x-www-form-urlencoded\r\nHTTP_HOST=localhost:3181\r\n"
          "HTTP_REMOTE_USER=alice\r\nHTTP_X_TOKEN=first\r\n"
          "QS_B=2\r\nQS_A=1\r\nQS_A=3\r\nQS_C=4\r\nQS_D=5\r\n",
      "c=4&d=5"));
  cases.push_back(served("path_and_query", "GET /quelm/restfs/dir?x=1 HTTP/1.1\r\nhost: h\r\n\r\n",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nREQUEST_METHOD=GET\r\n"
                             "PATH_INFO=/quelm/restfs/dir\r\nSERVER_PORT=3181\r\nHTTP_HOST=h\r\n"
                             "QS_X=1\r\n"));
  cases.push_back(served("path_not_decoded", "GET /a%20b+c?q=%41 HTTP/1.1\r\nHOST: h\r\n\r\n",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nREQUEST_METHOD=GET\r\n"
                             "PATH_INFO=/a%20b+c\r\nSERVER_PORT=3181\r\nHTTP_HOST=h\r\nQS_Q=A\r\n"));
  cases.push_back(served("content_length_not_a_number",
                         "GET /x HTTP/1.1\r\nHost: h\r\nContent-Length: abc\r\n\r\nxyz",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nREQUEST_METHOD=GET\r\nPATH_INFO=/x\r\n"
                             "SERVER_PORT=3181\r\nHTTP_CONTENT_LENGTH=abc\r\nHTTP_HOST=h\r\n"));
  cases.push_back(served("negative_content_length_reads_no_body",
                         "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: -5\r\n\r\nxyz",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nCONTENT_LENGTH=-5\r\n"
                             "REQUEST_METHOD=PUT\r\nPATH_INFO=/x\r\nSERVER_PORT=3181\r\n"
                             "HTTP_CONTENT_LENGTH=-5\r\nHTTP_HOST=h\r\n"));
  cases.push_back(served("atoi_like_content_length",
                         "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: +3xyz\r\n\r\nabcdef",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nCONTENT_LENGTH=3\r\n"
                             "REQUEST_METHOD=PUT\r\nPATH_INFO=/x\r\nSERVER_PORT=3181\r\n"
                             "HTTP_CONTENT_LENGTH=+3xyz\r\nHTTP_HOST=h\r\n",
                         "abc"));
  cases.push_back(served("form_with_parameters_not_parsed",
                         "POST /x?q=0 HTTP/1.1\r\nHost: h\r\nContent-Type: "
                         "application/x-www-form-urlencoded; charset=utf-8\r\n"
                         "Content-Length: 7\r\n\r\na=1&b=2",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nCONTENT_TYPE=application/"
                             "x-www-form-urlencoded; charset=utf-8\r\nCONTENT_LENGTH=7\r\n"
                             "REQUEST_METHOD=POST\r\nPATH_INFO=/x\r\nSERVER_PORT=3181\r\n"
                             "HTTP_CONTENT_LENGTH=7\r\nHTTP_CONTENT_TYPE=application/"
                             "x-www-form-urlencoded; charset=utf-8\r\nHTTP_HOST=h\r\nQS_Q=0\r\n",
                         "a=1&b=2"));
  cases.push_back(served("form_type_ignores_letter_case",
                         "POST /x?q=0 HTTP/1.1\r\nHost: h\r\nContent-Type: "
                         "Application/X-WWW-Form-Urlencoded\r\nContent-Length: 7\r\n\r\na=1&b=2",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\n"
                             "CONTENT_TYPE=Application/X-WWW-Form-Urlencoded\r\n"
                             "CONTENT_LENGTH=7\r\nREQUEST_METHOD=POST\r\nPATH_INFO=/x\r\n"
                             "SERVER_PORT=3181\r\nHTTP_CONTENT_LENGTH=7\r\n"
                             "HTTP_CONTENT_TYPE=Application/X-WWW-Form-Urlencoded\r\n"
                             "HTTP_HOST=h\r\nQS_Q=0\r\nQS_A=1\r\nQS_B=2\r\n",
                         "a=1&b=2"));
  cases.push_back(served("form_only_for_post",
                         "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nContent-Length: 3\r\n\r\na=1",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\n"
                             "CONTENT_TYPE=application/x-www-form-urlencoded\r\n"
                             "CONTENT_LENGTH=3\r\nREQUEST_METHOD=PUT\r\nPATH_INFO=/x\r\n"
                             "SERVER_PORT=3181\r\nHTTP_CONTENT_LENGTH=3\r\n"
                             "HTTP_CONTENT_TYPE=application/x-www-form-urlencoded\r\n"
                             "HTTP_HOST=h\r\n",
                         "a=1"));
  cases.push_back(served("binary_body_unchanged",
                         "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                             std::to_string(binary_body.size()) + "\r\n\r\n" + binary_body,
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nCONTENT_LENGTH=506\r\n"
                             "REQUEST_METHOD=PUT\r\nPATH_INFO=/x\r\nSERVER_PORT=3181\r\n"
                             "HTTP_CONTENT_LENGTH=506\r\nHTTP_HOST=h\r\n",
                         binary_body));
  cases.push_back(served("header_names_in_byte_order_values_trimmed",
                         "OPTIONS /x HTTP/1.1\nX-A:\t v \t\nX B: 1\n:empty\nHost: h\n\n",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nREQUEST_METHOD=OPTIONS\r\n"
                             "PATH_INFO=/x\r\nSERVER_PORT=3181\r\nHTTP_=empty\r\nHTTP_HOST=h\r\n"
                             "HTTP_X B=1\r\nHTTP_X_A=v\r\n"));
  cases.push_back(served("no_protocol_version_extra_words_ignored",
                         "DELETE /x\r\nHost: h\r\n\r\n",
                         peer_lines +
                             "REQUEST_METHOD=DELETE\r\nPATH_INFO=/x\r\nSERVER_PORT=3181\r\n"
                             "HTTP_HOST=h\r\n"));
  cases.push_back(served("extra_words_ignored", "HEAD  /x   HTTP/1.0 more words\r\nHost: h\r\n\r\n",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.0\r\nREQUEST_METHOD=HEAD\r\n"
                             "PATH_INFO=/x\r\nSERVER_PORT=3181\r\nHTTP_HOST=h\r\n"));
  cases.push_back(served("headers_ended_by_end_of_input", "GET /x HTTP/1.1\r\nHost: h\r\n",
                         peer_lines +
                             "PROTOCOL_VERSION=HTTP/1.1\r\nREQUEST_METHOD=GET\r\n"
                             "PATH_INFO=/x\r\nSERVER_PORT=3181\r\nHTTP_HOST=h\r\n",
                         "", true));

  // What the dispatcher returns is framed, or replaced by the matching 500 reply.
  const std::string get = "GET /x HTTP/1.1\r\nHost: h\r\n\r\n";
  const std::string get_environment = peer_lines +
                                      "PROTOCOL_VERSION=HTTP/1.1\r\nREQUEST_METHOD=GET\r\n"
                                      "PATH_INFO=/x\r\nSERVER_PORT=3181\r\nHTTP_HOST=h\r\n";
  const std::string not_found_reply =
      "Content-Type:application/json\r\n\r\n"
      "{\"status\":404,\"message\":\"Item not found\",\"code\":\"202\"}";
  request_case not_found = served("dispatcher_not_found", get, get_environment);
  not_found.plan = {404, not_found_reply};
  not_found.response =
      "HTTP/1.1 404 Not Found\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
      "Connection: close\r\nContent-Length: 54\r\n" + not_found_reply;
  cases.push_back(not_found);
  request_case unauthorized = served("dispatcher_unauthorized_without_text", get, get_environment);
  unauthorized.plan = {401, ""};
  unauthorized.response = error_response(
      "HTTP/1.1 401 Unauthorized", "{\"status\":401,\"message\":\"Unauthorized\",\"code\":\"\"}");
  unauthorized.returned = 401;
  cases.push_back(unauthorized);
  request_case malformed = served("dispatcher_text_without_content_type", get, get_environment);
  malformed.plan = {200, "Location: /\r\n\r\n{}"};
  malformed.response = error_response(
      "HTTP/1.1 500 Internal Error",
      "{\"status\":500,\"message\":\"bad response (no CONTENT-TYPE header)\",\"code\":\"\"}");
  malformed.returned = 500;
  cases.push_back(malformed);
  request_case throws = served("dispatcher_exception", get, get_environment);
  throws.plan.action = outcome::throw_runtime_error;
  throws.response = std::string(unknown_error_reply);
  throws.returned = 500;
  cases.push_back(throws);
  request_case exhausted = served("dispatcher_out_of_memory", get, get_environment);
  exhausted.plan.action = outcome::throw_bad_alloc;
  exhausted.response = std::string(out_of_memory_reply);
  exhausted.returned = 500;
  cases.push_back(exhausted);
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
  EXPECT_EQ(result.call.called, c.dispatched);
  if (c.dispatched) {
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

TEST(ContentLength, ReadsLikeAtoiAndSaturates) {
  const std::pair<std::string_view, std::int32_t> cases[] = {
      {"", 0},
      {"abc", 0},
      {"12", 12},
      {" \t\v\f\r\n12", 12},
      {"+7x", 7},
      {"-5", -5},
      {"- 5", 0},
      {"1 2", 1},
      {"007", 7},
      {"2147483647", 2147483647},
      {"2147483648", 2147483647},
      {"4294967301", 2147483647},
      {"99999999999999999999999", 2147483647},
      {"-2147483648", -2147483647 - 1},
      {"-2147483649", -2147483647 - 1},
      {"-99999999999999999999999", -2147483647 - 1}};
  for (const auto& [text, value] : cases) EXPECT_EQ(parse_content_length(text), value) << text;
}

struct diagnostics_case {
  const char* name;
  int level;
  std::string request;
  std::string lines;
};

class RequestDiagnostics : public testing::TestWithParam<diagnostics_case> {};

TEST_P(RequestDiagnostics, WritesTheExpectedLines) {
  const diagnostics_case& c = GetParam();
  debug_level_guard guard(c.level);
  testing::internal::CaptureStderr();
  over_socket_pair(c.request, script{}, true);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), c.lines);
}

const std::string traced_request =
    "POST /x?a=1 HTTP/1.1\r\nHost: h\r\nX-Token: one\r\nx-token: two\r\nContent-Length: 2\r\n"
    "\r\nab";

INSTANTIATE_TEST_SUITE_P(
    Levels, RequestDiagnostics,
    testing::Values(
        diagnostics_case{"quiet_at_level_0", 0, traced_request, ""},
        diagnostics_case{"request_and_status_at_level_1", 1, traced_request,
                         "HTTP request: POST /x?a=1 HTTP/1.1\n"
                         "Velquor returned status 200 with 13 bytes\n"},
        diagnostics_case{"trace_at_level_2", 2, traced_request,
                         "Begin HTTP Request\n"
                         "HTTP request: POST /x?a=1 HTTP/1.1\n"
                         "HTTP request headers:\n"
                         "  HTTP_HOST: h\n"
                         "  HTTP_X-TOKEN: one\n"
                         "  HTTP_X-TOKEN: two\n"
                         "  HTTP_CONTENT-LENGTH: 2\n"
                         "  REMOTE_ADDR=127.0.0.1\n"
                         "  REMOTE_HOST=127.0.0.1\n"
                         "  PROTOCOL_VERSION=HTTP/1.1\n"
                         "  CONTENT_LENGTH=2\n"
                         "  REQUEST_METHOD=POST\n"
                         "  PATH_INFO=/x\n"
                         "  SERVER_PORT=3181\n"
                         "  body appears to contain binary data\n"
                         "  QS_A=1\n"
                         "Calling Velquor\n"
                         "Velquor returned status 200 with 13 bytes\n"
                         "  Content-Type:application/json\n"
                         "  \n"
                         "  {\"ok\":true}\n"},
        diagnostics_case{"json_body_and_form_at_level_2", 2,
                         "POST / HTTP/1.1\r\nHost: h\r\nContent-Type: "
                         "application/x-www-form-urlencoded\r\nContent-Length: 8\r\n\r\n"
                         "{a=1&b=2",
                         "Begin HTTP Request\n"
                         "HTTP request: POST / HTTP/1.1\n"
                         "HTTP request headers:\n"
                         "  HTTP_HOST: h\n"
                         "  HTTP_CONTENT-TYPE: application/x-www-form-urlencoded\n"
                         "  HTTP_CONTENT-LENGTH: 8\n"
                         "  REMOTE_ADDR=127.0.0.1\n"
                         "  REMOTE_HOST=127.0.0.1\n"
                         "  PROTOCOL_VERSION=HTTP/1.1\n"
                         "  CONTENT_TYPE=application/x-www-form-urlencoded\n"
                         "  CONTENT_LENGTH=8\n"
                         "  REQUEST_METHOD=POST\n"
                         "  PATH_INFO=/\n"
                         "  SERVER_PORT=3181\n"
                         "HTTP request body:\n"
                         "  {a=1&b=2\n"
                         "  QS_{A=1\n"
                         "  QS_B=2\n"
                         "Parsing form variables as query string\n"
                         "Calling Velquor\n"
                         "Velquor returned status 200 with 13 bytes\n"
                         "  Content-Type:application/json\n"
                         "  \n"
                         "  {\"ok\":true}\n"},
        diagnostics_case{"illegal_method_at_level_1", 1, "get / HTTP/1.1\r\nHost: h\r\n\r\n",
                         "HTTP request: get / HTTP/1.1\nIllegal HTTP method get\n"},
        diagnostics_case{"empty_connection_at_level_1", 1, "",
                         "HTTP request: \nIllegal HTTP method \n"},
        diagnostics_case{"path_missing_at_level_1", 1, "GET x HTTP/1.1\r\n\r\n",
                         "HTTP request: GET x HTTP/1.1\nPath missing from URL\n"},
        diagnostics_case{"bad_header_at_level_1", 1, "GET / HTTP/1.1\r\nbroken line\r\n\r\n",
                         "HTTP request: GET / HTTP/1.1\n"
                         "HTTP request invalid header line: broken line\n"},
        diagnostics_case{"missing_host_at_level_1", 1, "GET / HTTP/1.1\r\n\r\n",
                         "HTTP request: GET / HTTP/1.1\nHTTP request missing HOST header!\n"},
        diagnostics_case{"short_body_at_level_1", 1,
                         "PUT / HTTP/1.1\r\nHost: h\r\nContent-Length: 4294967301\r\n\r\nabc",
                         "HTTP request: PUT / HTTP/1.1\n"
                         "Actual content size 3 differs from Content-Length header "
                         "2147483647\n"},
        diagnostics_case{"line_break_in_query_at_level_1", 1,
                         "GET /?a=%0A HTTP/1.1\r\nHost: h\r\n\r\n",
                         "HTTP request: GET /?a=%0A HTTP/1.1\n"
                         "HTTP request query string holds CR or LF\n"}),
    [](const testing::TestParamInfo<diagnostics_case>& info) {
      return std::string(info.param.name);
    });

}  // namespace
}  // namespace ombrix
