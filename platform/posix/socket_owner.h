// Looks up which user owns the client socket at the far end of an accepted loopback
// connection, from either of the kernel's two sources. Linux only. Thread-safe: each look-up
// opens and closes descriptors of its own.
#pragma once

#include <netinet/in.h>

#include <optional>

#include "platform/socket.h"

namespace ombrix::platform {

// The two ends of an accepted IPv4 connection as the server sees them.
struct connection_ends {
  sockaddr_in local{};   // the accepted socket's own address
  sockaddr_in remote{};  // the client socket's address
};

// The ends of `connection`, whose peer address accept returned as `peer`; nullopt when it is
// not an IPv4 connection or its own address cannot be read.
std::optional<connection_ends> ends_of(socket_handle connection, const peer_address& peer);

// Both return the owner of the one TCP socket whose own end is ends.remote and whose far end
// is ends.local, or nullopt when there is none or it is no longer open in any process (the
// kernel then keeps no owner: a socket in TIME_WAIT reports user 0).
// From the socket diagnostics (NETLINK_SOCK_DIAG); nullopt also when netlink is unavailable.
std::optional<long> owner_from_socket_diagnostics(const connection_ends& ends);
// From /proc/net/tcp and /proc/net/tcp6; nullopt also when they cannot be read.
std::optional<long> owner_from_socket_tables(const connection_ends& ends);

}  // namespace ombrix::platform
