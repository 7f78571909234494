// The owner of a loopback client socket, from the kernel's socket diagnostics over netlink or
// from its TCP socket tables in /proc.
#include "platform/posix/socket_owner.h"

#include <arpa/inet.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

#include "platform/posix/tcp_table_row.h"

namespace ombrix::platform {

std::optional<connection_ends> ends_of(socket_handle connection, const peer_address& peer) {
  connection_ends ends;
  socklen_t length = sizeof ends.local;
  if (::getsockname(connection, reinterpret_cast<sockaddr*>(&ends.local), &length) != 0 ||
      ends.local.sin_family != AF_INET || peer.length < static_cast<int>(sizeof(sockaddr_in))) {
    return std::nullopt;
  }
  std::memcpy(&ends.remote, peer.storage, sizeof ends.remote);
  if (ends.remote.sin_family != AF_INET) return std::nullopt;
  return ends;
}

namespace {

// Datagrams read in search of the answer to one query; earlier queries whose answers came too
// late leave at most one each.
constexpr int answers_read_at_most = 8;

// The owner in one answer of the kernel to query `sequence`; `stale` tells an answer to an
// earlier query, to be skipped.
std::optional<long> owner_in_answer(const char* reply, unsigned int length,
                                    const connection_ends& ends, unsigned int sequence,
                                    bool& stale) {
  stale = false;
  for (auto* header = reinterpret_cast<const nlmsghdr*>(reply); NLMSG_OK(header, length);
       header = NLMSG_NEXT(header, length)) {
    if (header->nlmsg_seq != sequence) {
      stale = true;
      return std::nullopt;
    }
    if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
      return std::nullopt;  // NLMSG_ERROR: no such socket, or no diagnostics for TCP
    }
    const auto* found = static_cast<const inet_diag_msg*>(NLMSG_DATA(header));
    if (found->id.idiag_sport != ends.remote.sin_port ||
        found->id.idiag_dport != ends.local.sin_port || found->idiag_inode == 0) {
      return std::nullopt;
    }
    return static_cast<long>(found->idiag_uid);
  }
  return std::nullopt;
}

}  // namespace

diagnostics_query make_diagnostics_query(const connection_ends& ends, unsigned int sequence) {
  diagnostics_query message{};
  message.header.nlmsg_len = sizeof message;
  message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  message.header.nlmsg_flags = NLM_F_REQUEST;
  message.header.nlmsg_seq = sequence;
  message.request.sdiag_family = AF_INET;
  message.request.sdiag_protocol = IPPROTO_TCP;
  message.request.idiag_states = ~0U;
  message.request.id.idiag_sport = ends.remote.sin_port;
  message.request.id.idiag_dport = ends.local.sin_port;
  std::memcpy(message.request.id.idiag_src, &ends.remote.sin_addr, 4);
  std::memcpy(message.request.id.idiag_dst, &ends.local.sin_addr, 4);
  message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  return message;
}

std::optional<long> owner_from_socket_diagnostics(const connection_ends& ends) {
  unique_socket channel;
  unsigned int sequence = 0;
  return owner_from_socket_diagnostics(ends, channel, sequence);
}

std::optional<long> owner_from_socket_diagnostics(const connection_ends& ends,
                                                  unique_socket& channel,
                                                  unsigned int& sequence) {
  if (!channel) {
    channel = unique_socket(::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG));
    if (!channel) return std::nullopt;
    // The kernel answers at once; the bound only guards the accept loop against the unforeseen.
    (void)set_receive_timeout(channel.get(), 1000);
  }

  const diagnostics_query message = make_diagnostics_query(ends, ++sequence);

  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (::sendto(channel.get(), &message, sizeof message, 0,
               reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof message)) {
    channel = unique_socket();
    return std::nullopt;
  }
  alignas(nlmsghdr) char reply[8192];
  for (int read = 0; read < answers_read_at_most; ++read) {
    const ssize_t got = ::recv(channel.get(), reply, sizeof reply, 0);
    if (got <= 0) break;
    bool stale = false;
    const std::optional<long> owner =
        owner_in_answer(reply, static_cast<unsigned int>(got), ends, sequence, stale);
    if (!stale) return owner;
  }
  channel = unique_socket();  // no answer in time: whatever comes later must not meet the next query
  return std::nullopt;
}

// A client socket of an IPv6 socket shows in tcp6 with a mapped address.
std::optional<long> owner_from_socket_tables(const connection_ends& ends) {
  for (const char* table_path : {"/proc/net/tcp", "/proc/net/tcp6"}) {
    std::ifstream table(table_path);
    for (std::string line; std::getline(table, line);) {
      const std::optional<tcp_table_row> row = read_tcp_table_row(line);
      if (!row || !row->local.is(ends.remote) || !row->remote.is(ends.local)) continue;
      if (row->inode == 0) return std::nullopt;
      return row->user;
    }
  }
  return std::nullopt;
}

}  // namespace ombrix::platform
