// Errors of the HTTP layer seen on the wire of the real process: the reader's refusals reach the
// client whole, the memory of a request follows the bytes that arrive, time-outs end silent clients.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

using HttpLayer = server_test;

TEST_F(HttpLayer, AnswersExactly) {
  struct {
    std::string request;
    bool half_close;
    std::string expected;
  } const cases[] = {
      // One of each kind of refusal; every message and its order are pinned by request_cases.h,
      // and the missing HOST header by the stalled client below.
      // The first connection: a login with a length that is not a number reads no body.
      {"POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: abc\r\n\r\n", false,
       json_response(login_json("1"))},
      {"get /quelm/restfs/logout HTTP/1.1\r\nHost: a\r\n\r\n", false, http_error(405)},
      {"", true, http_error(405)},
      {"GET ?a=1 HTTP/1.1\r\nHost: a\r\n\r\n", false, http_error(400, "path missing")},
      {"GET /quelm/restfs/logout HTTP/1.1\nhost: a\n\n", false, empty_success()},
      {"POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: 2000000000\r\n\r\n{}", true,
       http_error(400, "bad content-length")},
      {"GET /quelm/restfs/logout?a=1&b=%zz HTTP/1.1\r\nHost: a\r\n\r\n", false, unknown_error_response()},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.request);
    exchange_options options;
    options.half_close = c.half_close;
    EXPECT_EQ(send_raw(c.request, options), c.expected);
  }
}

// A client that connects and stays silent is answered 405 once the 5-second receive time-out
// ends the request-line read; one that stops after the request line gets the missing-HOST
// answer the same way. Both wait for the time-out: neither is answered early.
TEST_F(HttpLayer, StalledClientsAreAnsweredAfterTheReceiveTimeout) {
  struct outcome {
    read_result read;
    std::chrono::milliseconds elapsed{0};
  };
  auto stall = [this](std::string prefix, outcome* out) {
    auto start = std::chrono::steady_clock::now();
    client_socket socket = connect_loopback(port());
    if (!socket.valid()) return;
    send_all(socket.fd(), prefix);
    out->read = read_until_close(socket.fd(), 15s);
    out->elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
  };
  outcome silent, half;
  std::thread silent_thread(stall, "", &silent);
  std::thread half_thread(stall, "GET /quelm/restfs/logout HTTP/1.1\r\n", &half);
  silent_thread.join();
  half_thread.join();
  EXPECT_EQ(silent.read.bytes, http_error(405));
  EXPECT_TRUE(silent.read.closed);
  EXPECT_GE(silent.elapsed, 4s);
  EXPECT_EQ(half.read.bytes, http_error(400, "missing HOST header"));
  EXPECT_TRUE(half.read.closed);
  EXPECT_GE(half.elapsed, 4s);
  EXPECT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());  // still serving
}

}  // namespace
}  // namespace ombrix::e2e
