// Errors of the HTTP layer seen on the wire: methods, paths, headers, lengths, escapes, time-outs.
#include <gtest/gtest.h>

#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

struct raw_case {
  const char* name;
  std::string request;
  bool half_close;
  std::string expected;
};

void PrintTo(const raw_case& c, std::ostream* out) { *out << c.name; }

class HttpLayer : public server_test, public ::testing::WithParamInterface<raw_case> {};

TEST_P(HttpLayer, AnswersExactly) {
  const raw_case& c = GetParam();
  exchange_options options;
  options.half_close = c.half_close;
  EXPECT_EQ(send_raw(c.request, options), c.expected);
}

const std::string login_reply_sid1 = json_response(
    "{\"token_type\":\"Bearer\",\"access_token\":\"" + token_for_sid("1") + "\"}");

INSTANTIATE_TEST_SUITE_P(
    Requests, HttpLayer,
    ::testing::Values(
        raw_case{"LowerCaseMethod", "get /quelm/restfs/logout HTTP/1.1\r\nHost: a\r\n\r\n", false,
                 http_error(405)},
        raw_case{"UnknownMethod", "BREW /quelm/restfs/logout HTTP/1.1\r\nHost: a\r\n\r\n", false,
                 http_error(405)},
        raw_case{"ClosedWithoutRequest", "", true, http_error(405)},
        raw_case{"AbsoluteFormTarget",
                 "GET http://127.0.0.1/quelm/restfs/logout HTTP/1.1\r\nHost: a\r\n\r\n", false,
                 http_error(400, "path missing")},
        raw_case{"QueryWithoutPath", "GET ?a=1 HTTP/1.1\r\nHost: a\r\n\r\n", false,
                 http_error(400, "path missing")},
        raw_case{"NoTarget", "GET\r\nHost: a\r\n\r\n", false, http_error(400, "path missing")},
        raw_case{"HeaderWithoutColon",
                 "GET /quelm/restfs/logout HTTP/1.1\r\nHost: a\r\nNoColonHere\r\n\r\n", false,
                 http_error(400, "bad header")},
        raw_case{"MissingHost", "GET /quelm/restfs/logout HTTP/1.1\r\nAccept: */*\r\n\r\n", false,
                 http_error(400, "missing HOST header")},
        raw_case{"BlankHost", "GET /quelm/restfs/logout HTTP/1.1\r\nHost:   \t\r\n\r\n", false,
                 http_error(400, "missing HOST header")},
        raw_case{"BlankBeforeColon", "GET /quelm/restfs/logout HTTP/1.1\r\nHost : a\r\n\r\n", false,
                 http_error(400, "missing HOST header")},
        raw_case{"LowerCaseHostName", "GET /quelm/restfs/logout HTTP/1.1\r\nhost: a\r\n\r\n", false,
                 empty_success()},
        raw_case{"BareLineFeeds", "GET /quelm/restfs/logout HTTP/1.1\nHost: a\n\n", false,
                 empty_success()},
        raw_case{"ShortBody",
                 "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: 5\r\n\r\n{\"a", true,
                 http_error(400, "bad content-length")},
        raw_case{"HugeContentLengthShortBody",
                 "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: 2000000000\r\n\r\n{}",
                 true, http_error(400, "bad content-length")},
        raw_case{"ContentLengthNotANumber",
                 "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: abc\r\n\r\n", false,
                 login_reply_sid1},
        raw_case{"NegativeContentLength",
                 "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: -5\r\n\r\n", false,
                 login_reply_sid1},
        raw_case{"MalformedEscapeInQuery",
                 "GET /quelm/restfs/logout?a=1&b=%zz HTTP/1.1\r\nHost: a\r\n\r\n", false,
                 unknown_error_reply()},
        raw_case{"LineBreakInQueryValue",
                 "GET /quelm/restfs/logout?a=x%0D%0AQS_B=y HTTP/1.1\r\nHost: a\r\n\r\n", false,
                 http_error(400, "bad query string")},
        raw_case{"LineBreakInFormValue",
                 "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\n"
                 "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: 8\r\n\r\na=%0Ab&c",
                 false, http_error(400, "bad query string")}),
    [](const ::testing::TestParamInfo<raw_case>& info) { return std::string(info.param.name); });

using HttpTimeouts = server_test;

// A client that connects and stays silent is answered 405 once the 5-second receive time-out
// ends the request-line read; one that stops after the request line gets the missing-HOST
// answer the same way. Both wait for the time-out: neither is answered early.
TEST_F(HttpTimeouts, StalledClientsAreAnsweredAfterTheReceiveTimeout) {
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
    out->elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - start);
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
  // The server still serves.
  EXPECT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());
}

}  // namespace
}  // namespace ombrix::e2e
