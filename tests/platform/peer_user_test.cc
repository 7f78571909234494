#include "platform/peer_user.h"

#include <arpa/inet.h>
#include <linux/netlink.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <optional>
#include <string>
#include <thread>

#include "platform/posix/socket_owner.h"

namespace ombrix::platform {
namespace {

using namespace std::chrono_literals;

// A listening loopback socket on a free port, owned by the test.
struct loopback_listener {
  unique_socket socket{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)};
  int port = 0;

  loopback_listener() {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(socket.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(socket.get(), 4) != 0 ||
        ::getsockname(socket.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ADD_FAILURE() << "no listening socket: " << errno;
    }
    port = ntohs(address.sin_port);
  }

  unique_socket accept(peer_address& peer) const {
    return unique_socket(accept_connection(socket.get(), peer));
  }
};

unique_socket connect_to(int port) {
  unique_socket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  if (::connect(client.get(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ADD_FAILURE() << "connect failed: " << errno;
  }
  return client;
}

// Runs `client_script` (bash) as user 65534 under setpriv; returns its pid.
pid_t start_client_as_nobody(const std::string& client_script) {
  const pid_t child = ::fork();
  if (child == 0) {
    ::execl("/usr/bin/setpriv", "setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
            "/bin/bash", "-c", client_script.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  }
  return child;
}

bool can_run_as_another_user(std::string& why_not) {
  if (::geteuid() != 0) why_not = "needs root to run a client as another user";
  else if (::access("/usr/bin/setpriv", X_OK) != 0) why_not = "setpriv (util-linux) is missing";
  return why_not.empty();
}

// Each source of the owner on its own, and (source null) peer_user_lookup, which the accept loop
// uses.
struct source_case {
  const char* name;
  std::optional<long> (*source)(const connection_ends&);
};

class PeerUserTest : public ::testing::TestWithParam<source_case> {
 protected:
  // The owner that the source under test finds for `connection`; -1 for none.
  long owner_of(const unique_socket& connection, const peer_address& peer,
                peer_standing* standing = nullptr) {
    if (GetParam().source == nullptr) {
      const peer_user found = peer_user_lookup().find(connection.get(), peer);
      if (standing != nullptr) *standing = found.standing;
      return found.user;
    }
    const std::optional<connection_ends> ends = ends_of(connection.get(), peer);
    EXPECT_TRUE(ends.has_value());
    if (!ends) return -2;
    return GetParam().source(*ends).value_or(-1);
  }
};

TEST_P(PeerUserTest, OwnConnectionHasOurUser) {
  const loopback_listener listener;
  const unique_socket client = connect_to(listener.port);
  peer_address peer;
  const unique_socket connection = listener.accept(peer);
  ASSERT_TRUE(connection);
  peer_standing standing = peer_standing::unknown;
  EXPECT_EQ(owner_of(connection, peer, &standing), static_cast<long>(::geteuid()));
  if (GetParam().source == nullptr) {
    EXPECT_EQ(standing, peer_standing::allowed);
  }
}

// A client that has closed its socket leaves no owner behind; it must not pass as root, which
// is what the kernel reports for a socket in TIME_WAIT.
TEST_P(PeerUserTest, ClosedClientSocketHasNoOwner) {
  const loopback_listener listener;
  peer_address peer;
  unique_socket connection;
  {
    const unique_socket client = connect_to(listener.port);
    connection = listener.accept(peer);
    ASSERT_TRUE(connection);
  }
  std::this_thread::sleep_for(20ms);
  peer_standing standing = peer_standing::allowed;
  EXPECT_EQ(owner_of(connection, peer, &standing), -1);
  if (GetParam().source == nullptr) {
    EXPECT_EQ(standing, peer_standing::unknown);
  }
}

// The client runs as user 65534 and keeps its socket open until we close ours.
TEST_P(PeerUserTest, ClientOfAnotherUserHasItsUser) {
  std::string why_not;
  if (!can_run_as_another_user(why_not)) GTEST_SKIP() << why_not;
  const loopback_listener listener;
  const pid_t child = start_client_as_nobody(
      "exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(listener.port) + "; read -t 10 <&3");
  ASSERT_GT(child, 0);
  peer_address peer;
  unique_socket connection = listener.accept(peer);
  ASSERT_TRUE(connection);
  peer_standing standing = peer_standing::allowed;
  const long owner = owner_of(connection, peer, &standing);
  connection = unique_socket();
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_EQ(owner, 65534);
  if (GetParam().source == nullptr) {
    EXPECT_EQ(standing, peer_standing::foreign);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sources, PeerUserTest,
    ::testing::Values(source_case{"SocketDiagnostics", owner_from_socket_diagnostics},
                      source_case{"SocketTables", owner_from_socket_tables},
                      source_case{"PeerUserLookup", nullptr}),
    [](const ::testing::TestParamInfo<source_case>& info) { return std::string(info.param.name); });

// One lookup for many connections in a row, as the accept loop uses it: open and closed
// clients alternate, and each answer belongs to its own connection.
TEST(PeerUserLookupTest, OneChannelAnswersEachConnectionInTurn) {
  const loopback_listener listener;
  peer_user_lookup lookup;
  for (int round = 0; round < 20; ++round) {
    peer_address peer;
    unique_socket client = connect_to(listener.port);
    const unique_socket connection = listener.accept(peer);
    ASSERT_TRUE(connection);
    const bool closed = round % 3 == 1;
    if (closed) {
      client = unique_socket();
      std::this_thread::sleep_for(10ms);
    }
    const peer_user found = lookup.find(connection.get(), peer);
    SCOPED_TRACE("round " + std::to_string(round));
    if (closed) {
      EXPECT_EQ(found.standing, peer_standing::unknown);
      EXPECT_EQ(found.user, -1);
    } else {
      EXPECT_EQ(found.standing, peer_standing::allowed);
      EXPECT_EQ(found.user, static_cast<long>(::geteuid()));
    }
  }
}

// An answer that arrives after its query was given up waits on the kept channel; the next
// query must skip it. Here the late answer says "no such socket" for a closed client, and the
// query after it asks about an open one.
TEST(PeerUserLookupTest, ALateAnswerOnTheChannelIsNotTakenForTheNextQuery) {
  const loopback_listener listener;
  unique_socket channel;
  unsigned int sequence = 0;
  peer_address closed_peer;
  unique_socket closed_connection;
  {
    const unique_socket client = connect_to(listener.port);
    closed_connection = listener.accept(closed_peer);
  }
  std::this_thread::sleep_for(10ms);
  const std::optional<connection_ends> closed_ends = ends_of(closed_connection.get(), closed_peer);
  ASSERT_TRUE(closed_ends);
  EXPECT_FALSE(owner_from_socket_diagnostics(*closed_ends, channel, sequence).has_value());
  ASSERT_TRUE(channel);  // a plain "no such socket" keeps the channel

  // The same query again, sent by hand and left unread: its answer is the late one.
  const diagnostics_query late = make_diagnostics_query(*closed_ends, sequence);
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  ASSERT_EQ(::sendto(channel.get(), &late, sizeof late, 0,
                     reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel),
            static_cast<ssize_t>(sizeof late));

  peer_address open_peer;
  const unique_socket client = connect_to(listener.port);
  const unique_socket open_connection = listener.accept(open_peer);
  const std::optional<connection_ends> open_ends = ends_of(open_connection.get(), open_peer);
  ASSERT_TRUE(open_ends);
  EXPECT_EQ(owner_from_socket_diagnostics(*open_ends, channel, sequence),
            std::optional<long>(::geteuid()));
}

}  // namespace
}  // namespace ombrix::platform
