#include "server/http_connection.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <string>
#include <thread>

#include "tests/http/request_cases.h"

namespace ombrix {
namespace {

using namespace test;

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

class HttpConnection : public testing::TestWithParam<request_case> {};

// Every request of the reader's table, this time through the socket stream on a real socket.
TEST_P(HttpConnection, AnswersByteExactOverASocket) {
  const request_case& c = GetParam();
  const exchange result = over_socket_pair(c.request, c.plan, c.needs_end_of_input);
  expect_exchange(c, result);
}

INSTANTIATE_TEST_SUITE_P(Requests, HttpConnection, testing::ValuesIn(request_cases()),
                         [](const testing::TestParamInfo<request_case>& info) {
                           return std::string(info.param.name);
                         });

TEST(HttpConnection, LargeBodyArrivesWholeThroughTheSocketStream) {
  // Many socket-stream buffers and more than one growth step of the body buffer.
  std::string body(200'001, 'x');
  for (std::size_t i = 0; i < body.size(); i += 977) body[i] = static_cast<char>(i & 0xFF);
  const std::string request = "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " +
                              std::to_string(body.size()) + "\r\n\r\n" + body;
  const exchange result = over_socket_pair(request, script{}, false);
  EXPECT_EQ(result.response, ok_response);
  EXPECT_EQ(result.call.body, body);
}

}  // namespace
}  // namespace ombrix
