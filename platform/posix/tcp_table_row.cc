// Rows of the kernel's TCP socket tables.
#include "platform/posix/tcp_table_row.h"

#include <algorithm>
#include <charconv>
#include <cstring>

namespace ombrix::platform {

namespace {

// Splits off the next field separated by spaces; empty at the end of the line.
std::string_view next_field(std::string_view& line) {
  const std::size_t start = line.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    line = {};
    return {};
  }
  line.remove_prefix(start);
  const std::size_t end = std::min(line.find(' '), line.size());
  const std::string_view field = line.substr(0, end);
  line.remove_prefix(end);
  return field;
}

template <typename number>
bool read_number(std::string_view text, number& value, int base) {
  if (text.empty()) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
  return error == std::errc() && end == text.data() + text.size();
}

// "0100007F:1F90": the address as 32-bit words in hexadecimal, each word the value the kernel
// holds in memory (so its bytes in this machine's order are the address bytes), then the port.
bool read_endpoint(std::string_view text, tcp_table_endpoint& endpoint) {
  const std::size_t colon = text.find(':');
  if (colon == std::string_view::npos) return false;
  const std::string_view words = text.substr(0, colon);
  if (words.size() != 8 && words.size() != 32) return false;
  endpoint.address_size = static_cast<int>(words.size() / 2);
  for (std::size_t i = 0; i < words.size(); i += 8) {
    std::uint32_t word = 0;
    if (!read_number(words.substr(i, 8), word, 16)) return false;
    std::memcpy(endpoint.address.data() + i / 2, &word, sizeof word);
  }
  return read_number(text.substr(colon + 1), endpoint.port, 16) && text.size() - colon - 1 == 4;
}

}  // namespace

bool tcp_table_endpoint::is(const sockaddr_in& ipv4) const {
  if (port != ntohs(ipv4.sin_port)) return false;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&ipv4.sin_addr);
  if (address_size == 4) return std::memcmp(address.data(), bytes, 4) == 0;
  static constexpr std::uint8_t mapped_prefix[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
  return address_size == 16 && std::memcmp(address.data(), mapped_prefix, 12) == 0 &&
         std::memcmp(address.data() + 12, bytes, 4) == 0;
}

// Fields: slot, local, remote, state, tx:rx queues, timer, retransmits, uid, time-outs, inode.
std::optional<tcp_table_row> read_tcp_table_row(std::string_view line) {
  tcp_table_row row;
  const std::string_view slot = next_field(line);
  int slot_number = 0;
  if (slot.size() < 2 || slot.back() != ':' ||
      !read_number(slot.substr(0, slot.size() - 1), slot_number, 10)) {
    return std::nullopt;
  }
  if (!read_endpoint(next_field(line), row.local) || !read_endpoint(next_field(line), row.remote) ||
      row.local.address_size != row.remote.address_size ||
      !read_number(next_field(line), row.state, 16)) {
    return std::nullopt;
  }
  (void)next_field(line);  // queues
  (void)next_field(line);  // timer
  (void)next_field(line);  // retransmits
  if (!read_number(next_field(line), row.user, 10) || row.user < 0) return std::nullopt;
  (void)next_field(line);  // time-outs
  if (!read_number(next_field(line), row.inode, 10)) return std::nullopt;
  return row;
}

}  // namespace ombrix::platform
