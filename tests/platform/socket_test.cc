// The socket options the accept loop relies on: where the platform says accepted sockets inherit
// the listener's options, they must really arrive on the accepted socket, or connections would
// run without their time-outs.
#include "platform/socket.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include "platform/peer_user.h"

namespace ombrix::platform {
namespace {

TEST(SocketOptions, AnAcceptedSocketCarriesTheListenersOptionsWhereThePlatformSaysSo) {
  if (!accepted_sockets_inherit_options()) GTEST_SKIP() << "options are set per connection";
  const unique_socket listener(create_stream_socket());
  ASSERT_TRUE(listener);
  ASSERT_TRUE(set_receive_timeout(listener.get(), 4500));
  ASSERT_TRUE(set_send_timeout(listener.get(), 3500));
  ASSERT_TRUE(set_linger(listener.get(), 30));
  ASSERT_TRUE(gather_output(listener.get()));
  ASSERT_TRUE(bind_loopback(listener.get(), 0));
  ASSERT_TRUE(listen_on(listener.get(), 4));
  sockaddr_in address{};
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(listener.get(), reinterpret_cast<sockaddr*>(&address), &length), 0);

  const unique_socket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_EQ(::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address),
            0);
  peer_address peer;
  const unique_socket accepted(accept_connection(listener.get(), peer));
  ASSERT_TRUE(accepted);

  timeval receive{}, send{};
  socklen_t size = sizeof receive;
  ASSERT_EQ(::getsockopt(accepted.get(), SOL_SOCKET, SO_RCVTIMEO, &receive, &size), 0);
  size = sizeof send;
  ASSERT_EQ(::getsockopt(accepted.get(), SOL_SOCKET, SO_SNDTIMEO, &send, &size), 0);
  EXPECT_EQ(receive.tv_sec * 1000 + receive.tv_usec / 1000, 4500);
  EXPECT_EQ(send.tv_sec * 1000 + send.tv_usec / 1000, 3500);
  linger lingering{};
  size = sizeof lingering;
  ASSERT_EQ(::getsockopt(accepted.get(), SOL_SOCKET, SO_LINGER, &lingering, &size), 0);
  EXPECT_EQ(lingering.l_onoff, 1);
  EXPECT_EQ(lingering.l_linger, 30);
  int cork = 0;
  size = sizeof cork;
  ASSERT_EQ(::getsockopt(accepted.get(), IPPROTO_TCP, TCP_CORK, &cork, &size), 0);
  EXPECT_EQ(cork, 1);
}

}  // namespace
}  // namespace ombrix::platform
