// One row of the kernel's TCP socket tables (/proc/net/tcp and /proc/net/tcp6), read into its
// endpoints and owner. Pure text handling: no state, thread-safe.
#pragma once

#include <netinet/in.h>

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace ombrix::platform {

// An address and port as the table prints them.
struct tcp_table_endpoint {
  std::array<std::uint8_t, 16> address{};  // network byte order
  int address_size = 0;                    // 4 (tcp) or 16 (tcp6)
  std::uint16_t port = 0;                  // host byte order

  // True when this is `ipv4`, also when written as an IPv4-mapped IPv6 address.
  bool is(const sockaddr_in& ipv4) const;
};

struct tcp_table_row {
  tcp_table_endpoint local;
  tcp_table_endpoint remote;
  int state = 0;
  long user = -1;
  unsigned long inode = 0;  // 0 when no open file holds the socket (closed or in TIME_WAIT)
};

// Reads one line of the table. The heading line and anything malformed give nullopt.
std::optional<tcp_table_row> read_tcp_table_row(std::string_view line);

}  // namespace ombrix::platform
