#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/socket.h"
#include "tests/support/loopback_client.h"

namespace ombrix::platform {
namespace {

template <class address_type>
peer_address peer_of(const address_type& address) {
  peer_address peer;
  std::memcpy(peer.storage, &address, sizeof address);
  peer.length = sizeof address;
  return peer;
}

// The peer's text is what REMOTE_ADDR and the diagnostics show: the dotted quad for IPv4 (the
// loopback clients), the usual form for IPv6, and a failure when the room is too small.
TEST(NumericHostTest, IPv4AndIPv6AddressesAsTextOrAFailure) {
  char text[64];
  sockaddr_in v4{};
  v4.sin_family = AF_INET;
  v4.sin_port = htons(8181);
  for (const char* dotted : {"127.10.0.255", "1.99.100.9", "0.0.0.0"}) {
    ASSERT_EQ(::inet_pton(AF_INET, dotted, &v4.sin_addr), 1);
    ASSERT_EQ(numeric_host(peer_of(v4), text, sizeof text), 0);
    EXPECT_EQ(std::string(text), dotted);
  }
  sockaddr_in6 v6{};
  v6.sin6_family = AF_INET6;
  ASSERT_EQ(::inet_pton(AF_INET6, "::1", &v6.sin6_addr), 1);
  ASSERT_EQ(numeric_host(peer_of(v6), text, sizeof text), 0);
  EXPECT_EQ(std::string(text), "::1");
  EXPECT_NE(numeric_host(peer_of(v4), text, 8), 0);
}

// A connection thread closes a finished connection later only when everything, the shutdown
// included, has left the socket; a client that has not taken all of a response is still waited
// for by the lingering close.
TEST(EverythingSentTest, TrueOnceTheShutdownHasLeftFalseWhileThePeerHoldsBack) {
  auto [listening, port] = test::bound_socket(true);
  const int small = 4096;
  for (const std::size_t response : {std::size_t{100}, std::size_t{4} << 20}) {
    test::client_socket client = test::connect_loopback(port);
    ASSERT_EQ(::setsockopt(client.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
    const test::client_socket served(::accept(listening.fd(), nullptr, nullptr));
    ASSERT_TRUE(served.valid());
    const std::string bytes(response, 'x');
    ASSERT_EQ(::send(served.fd(), bytes.data(), bytes.size(), MSG_DONTWAIT) > 0, true);
    shutdown_both(served.fd());
    EXPECT_EQ(everything_sent(served.fd()), response == 100) << response;
  }
}

}  // namespace
}  // namespace ombrix::platform
