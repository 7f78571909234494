#include "platform/posix/tcp_table_row.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

namespace ombrix::platform {
namespace {

sockaddr_in ipv4(const char* address, std::uint16_t port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(port);
  ::inet_pton(AF_INET, address, &result.sin_addr);
  return result;
}

const std::string row_head = "   3: 0100007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  ";

// Lines as the kernel writes them (the address words are in this machine's byte order, which
// is little-endian on every machine the tests run on). An endpoint matches only the same
// address and port: ::1 is not 127.0.0.1, although its last word looks alike.
TEST(TcpTableRowTest, ReadsTheEndpointsTheOwnerAndTheInode) {
  const struct {
    std::string line;
    sockaddr_in local, remote, not_local;
    int state;
    long user;
    unsigned long inode;
  } cases[] = {
      {row_head + "1001        0 423511 1 0000000000000000 20 4 30 10 -1", ipv4("127.0.0.1", 50000), ipv4("127.0.0.1", 8080), ipv4("127.0.0.1", 50001), 1, 1001, 423511},
      {row_head + "1001 0 5 1", ipv4("127.0.0.1", 50000), ipv4("127.0.0.1", 8080), ipv4("127.0.0.2", 50000), 1, 1001, 5},
      {"   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     0        0 12345 1 0000000000000000 100 0 0 10 0", ipv4("127.0.0.1", 8080), ipv4("0.0.0.0", 0), ipv4("127.0.0.1", 0), 0x0A, 0, 12345},
      {"   1: 0000000000000000FFFF00000100007F:C350 0000000000000000FFFF00000100007F:1F90 01 00000000:00000000 00:00000000 00000000  1000        0 777 1 0000000000000000 20 4 30 10 -1", ipv4("127.0.0.1", 50000), ipv4("127.0.0.1", 8080), ipv4("127.0.0.1", 8080), 1, 1000, 777},
      {"   3: 00000000000000000000000001000000:C350 00000000000000000000000001000000:1F90 01 00000000:00000000 00:00000000 00000000  7 0 5 1", {}, {}, ipv4("0.0.0.1", 50000), 1, 7, 5}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    const std::optional<tcp_table_row> row = read_tcp_table_row(c.line);
    ASSERT_TRUE(row.has_value());
    EXPECT_TRUE(c.local.sin_family == 0 || (row->local.is(c.local) && row->remote.is(c.remote)));
    EXPECT_FALSE(row->local.is(c.not_local));
    EXPECT_EQ(row->state, c.state);
    EXPECT_EQ(row->user, c.user);
    EXPECT_EQ(row->inode, c.inode);
  }
}

// The fields end "1001 0 5 1": user, timeout, inode and one more; the cases break one field each.
TEST(TcpTableRowTest, ReadsNoRowFromABrokenLine) {
  const std::string lines[] = {
      "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode", "", row_head + "1001",
      "   3: 00007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  1001 0 5 1",
      "   3: 0100007F:C350 0100007F:1FZZ 01 00000000:00000000 00:00000000 00000000  1001 0 5 1",
      row_head + "root 0 5 1"};
  for (const std::string& line : lines) EXPECT_FALSE(read_tcp_table_row(line).has_value()) << line;
}

}  // namespace
}  // namespace ombrix::platform
