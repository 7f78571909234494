// Looks up which user owns the client socket at the far end of an accepted loopback
// connection, from either of the kernel's two sources. Linux only. Thread-safe, except that
// a channel passed in belongs to one caller.
#pragma once

#include <linux/inet_diag.h>
#include <linux/netlink.h>
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
// The socket diagnostics query for the TCP socket whose own end is ends.remote and whose far end
// is ends.local, numbered `sequence`: what owner_from_socket_diagnostics sends.
struct diagnostics_query {
  nlmsghdr header;
  inet_diag_req_v2 request;
};
diagnostics_query make_diagnostics_query(const connection_ends& ends, unsigned int sequence);

// From the socket diagnostics (NETLINK_SOCK_DIAG); nullopt also when netlink is unavailable.
std::optional<long> owner_from_socket_diagnostics(const connection_ends& ends);
// The same over `channel`, a netlink socket opened here when it is empty and kept open for the
// next call; `sequence` numbers the queries, so that an answer to an earlier query that came
// too late is never taken for this one. A channel that fails is closed (left empty).
std::optional<long> owner_from_socket_diagnostics(const connection_ends& ends,
                                                  unique_socket& channel, unsigned int& sequence);
// From /proc/net/tcp and /proc/net/tcp6; nullopt also when they cannot be read.
std::optional<long> owner_from_socket_tables(const connection_ends& ends);

}  // namespace ombrix::platform
