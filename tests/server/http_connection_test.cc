#include "server/http_connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <functional>
#include <limits>
#include <string>
#include <thread>

#include "tests/http/request_cases.h"
#include "tests/support/loopback_client.h"

namespace ombrix {
namespace {

using namespace test;

// Serves one request through handle_http_request on the server end of a socket pair (TCP on the
// loopback address, as the listener gets them, or local) while `client` plays the client on the
// other; then reads the response until the server closes.
exchange served(const std::function<void(int)>& client, int server_timeout_seconds = 5, bool tcp = false, const script& plan = {}) {
  int ends[2] = {-1, -1};
  if (tcp) {
    const auto [listener, port] = bound_socket(true);
    ends[1] = ::dup(connect_loopback(port).fd());  // the client end outlives the helper's socket
    ends[0] = accept(listener.fd(), nullptr, nullptr);
  } else if (socketpair(AF_UNIX, SOCK_STREAM, 0, ends) != 0) {
    return ADD_FAILURE() << "no connected sockets", exchange{};
  }
  for (const auto& [end, seconds] : {std::pair{ends[0], server_timeout_seconds}, std::pair{ends[1], 10}}) {
    const timeval limit{seconds, 0};  // the listener's limits; a fault in the server must not hang the test
    setsockopt(end, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(end, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  }
  exchange result;
  memory_budget budget(std::numeric_limits<std::size_t>::max());
  std::thread server([&] {
    result.returned = handle_http_request({peer_text, peer_text, ends[0], server_port, connection_number}, default_settings, budget, stand_in(plan, result.call));
    shutdown(ends[0], SHUT_RDWR);
    close(ends[0]);
  });
  client(ends[1]);
  result.response = read_until_close(ends[1], std::chrono::seconds(10)).bytes;
  close(ends[1]);  // as clients do once the response has ended
  server.join();
  return result;
}

exchange over_socket_pair(std::string_view request, bool half_close, int server_timeout_seconds = 5, const script& plan = {}) {
  return served([&](int client) {
    (void)send_all(client, request);  // the server may answer and close before reading everything
    if (half_close) shutdown(client, SHUT_WR);
  }, server_timeout_seconds, false, plan);
}

class HttpConnection : public testing::TestWithParam<request_case> {};

// Every request of the reader's table, this time through the socket stream on a real socket.
TEST_P(HttpConnection, AnswersByteExactOverASocket) {
  expect_exchange(GetParam(), over_socket_pair(GetParam().request, GetParam().needs_end_of_input, 5, GetParam().plan));
}

INSTANTIATE_TEST_SUITE_P(Requests, HttpConnection, testing::ValuesIn(request_cases()),
                         [](const testing::TestParamInfo<request_case>& info) { return std::string(info.param.name); });

// Regression: a body still arriving when the receive time-out struck was answered 400 "bad
// content-length", as if its length were wrong; a body the client ends stays that 400.
TEST(HttpConnection, ABodyCutOffByTheTimeOutIsAnswered408) {
  const std::string partial = "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 10\r\n\r\nabc";
  const exchange timed_out = over_socket_pair(partial, false, 1);
  EXPECT_EQ(std::tie(timed_out.response, timed_out.returned, timed_out.call.called), std::make_tuple(http_error(408, "request timeout"), 408, false));
  const std::string chunked = "PUT /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nab";
  EXPECT_EQ(over_socket_pair(chunked, false, 1).response, http_error(408, "request timeout"));
  EXPECT_EQ(over_socket_pair(partial, true, 1).response, bad_content_length);
}

// Regression: a request refused before its body was read was closed with the body's bytes
// unread, which reset the connection under a client still sending: its sends failed with a
// broken pipe and clients that stop there never saw the reply. The rest of the body is now read
// and dropped, so the whole body goes out and the reply arrives.
TEST(HttpConnection, AClientStillSendingReceivesTheEarlyRefusal) {
  const std::string request = "PUT /x HTTP/1.1\r\nContent-Length: 33554432\r\n\r\n" + std::string(32 * 1024 * 1024, 'b');
  bool sent = false;
  EXPECT_EQ(served([&](int client) { sent = send_all(client, request); }, 5, true).response, http_error(400, "missing HOST header"));
  EXPECT_TRUE(sent) << "the whole body goes out";
}

}  // namespace
}  // namespace ombrix
