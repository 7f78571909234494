#include "platform/peer_user.h"

#include <gtest/gtest.h>
#include <linux/netlink.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <thread>

#include "platform/posix/socket_owner.h"
#include "platform/socket.h"

namespace ombrix::platform {
namespace {

using namespace std::chrono_literals;

// A listening loopback socket on a free port.
struct loopback_listener {
  unique_socket socket{create_stream_socket()};
  sockaddr_in address{};
  loopback_listener() {
    socklen_t length = sizeof address;
    const bool listening = bind_loopback(socket.get(), 0) && listen_on(socket.get(), 4) && ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) == 0;
    if (!listening) ADD_FAILURE() << "no listening socket: " << errno;
  }
  unique_socket connect() const {
    unique_socket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (::connect(client.get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) ADD_FAILURE() << errno;
    return client;
  }
  unique_socket accept(peer_address& peer) const { return unique_socket(accept_connection(socket.get(), peer)); }
};

// Each source and the lookup the accept loop uses (one for many connections in a row) find our
// user for an open client. A client that has closed its socket leaves no owner behind; it must
// not pass as root, which is what the kernel reports for a socket in TIME_WAIT.
TEST(PeerUserTest, OwnConnectionHasOurUserAndAClosedOneNone) {
  using source = std::optional<long> (*)(const connection_ends&);
  const loopback_listener listener;
  peer_user_lookup lookup;
  for (int round = 0; round < 12; ++round) {
    peer_address peer;
    unique_socket client = listener.connect();
    const unique_socket connection = listener.accept(peer);
    ASSERT_TRUE(connection);
    const bool closed = round % 3 == 1;
    if (closed) client = unique_socket(), std::this_thread::sleep_for(20ms);
    const long owner = closed ? -1 : long(::geteuid());
    const std::optional<connection_ends> ends = ends_of(connection.get(), peer);
    ASSERT_TRUE(ends.has_value());
    for (const source find : {source(owner_from_socket_diagnostics), source(owner_from_socket_tables)}) EXPECT_EQ(find(*ends).value_or(-1), owner) << round;
    const peer_user found = lookup.find(connection.get(), peer);
    EXPECT_EQ(found.standing, closed ? peer_standing::unknown : peer_standing::allowed) << round;
    EXPECT_EQ(found.user, owner) << round;
  }
}

// An answer that arrives after its query was given up waits on the kept channel; the next query
// must skip it. Here the late answer says "no such socket" for a closed client, and the query
// after it asks about an open one.
TEST(PeerUserLookupTest, ALateAnswerOnTheChannelIsNotTakenForTheNextQuery) {
  const loopback_listener listener;
  unique_socket channel;
  unsigned int sequence = 0;
  peer_address closed_peer;
  unique_socket closed_connection;
  {
    const unique_socket client = listener.connect();
    closed_connection = listener.accept(closed_peer);
  }
  std::this_thread::sleep_for(10ms);
  const std::optional<connection_ends> closed_ends = ends_of(closed_connection.get(), closed_peer);
  ASSERT_TRUE(closed_ends);
  EXPECT_FALSE(owner_from_socket_diagnostics(*closed_ends, channel, sequence).has_value());
  ASSERT_TRUE(channel);  // a plain "no such socket" keeps the channel
  const diagnostics_query late = make_diagnostics_query(*closed_ends, sequence);  // sent by hand, left unread
  const sockaddr_nl kernel{.nl_family = AF_NETLINK, .nl_pad = 0, .nl_pid = 0, .nl_groups = 0};
  ASSERT_EQ(::sendto(channel.get(), &late, sizeof late, 0, reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel), static_cast<ssize_t>(sizeof late));
  peer_address open_peer;
  const unique_socket client = listener.connect();
  const unique_socket open_connection = listener.accept(open_peer);
  const std::optional<connection_ends> open_ends = ends_of(open_connection.get(), open_peer);
  ASSERT_TRUE(open_ends);
  EXPECT_EQ(owner_from_socket_diagnostics(*open_ends, channel, sequence), std::optional<long>(::geteuid()));
}

}  // namespace
}  // namespace ombrix::platform
