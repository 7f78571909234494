#include "platform/posix/tcp_table_row.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <ostream>
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

const std::string heading =
    "  sl  local_address rem_address   st tx_queue rx_queue tr tm->when retrnsmt   uid  timeout inode";

struct row_case {
  const char* name;
  std::string line;
  // What the row must say.
  sockaddr_in local;
  sockaddr_in remote;
  int state;
  long user;
  unsigned long inode;
};

// Failures name the case and show its line, not the bytes of the structure.
void PrintTo(const row_case& c, std::ostream* out) {
  *out << c.name << ": \"" << c.line << '"';
}

class TcpTableRowTest : public ::testing::TestWithParam<row_case> {};

TEST_P(TcpTableRowTest, ReadsTheEndpointsTheOwnerAndTheInode) {
  const row_case& c = GetParam();
  const std::optional<tcp_table_row> row = read_tcp_table_row(c.line);
  ASSERT_TRUE(row.has_value());
  EXPECT_TRUE(row->local.is(c.local));
  EXPECT_TRUE(row->remote.is(c.remote));
  EXPECT_EQ(row->state, c.state);
  EXPECT_EQ(row->user, c.user);
  EXPECT_EQ(row->inode, c.inode);
}

// Lines as the kernel writes them (the address words are in this machine's byte order, which
// is little-endian on every machine the tests run on).
INSTANTIATE_TEST_SUITE_P(
    Lines, TcpTableRowTest,
    ::testing::Values(
        row_case{"ClientSocketOfAnotherUser",
                 "   3: 0100007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  "
                 "1001        0 423511 1 0000000000000000 20 4 30 10 -1",
                 ipv4("127.0.0.1", 50000), ipv4("127.0.0.1", 8080), 1, 1001, 423511},
        row_case{"ListeningSocketOfRoot",
                 "   0: 0100007F:1F90 00000000:0000 0A 00000000:00000000 00:00000000 00000000     "
                 "0        0 12345 1 0000000000000000 100 0 0 10 0",
                 ipv4("127.0.0.1", 8080), ipv4("0.0.0.0", 0), 0x0A, 0, 12345},
        row_case{"TimeWaitHasNoInode",
                 "  12: 0100007F:C351 0100007F:1F90 06 00000000:00000000 03:00001770 00000000     "
                 "0        0 0 3 0000000000000000",
                 ipv4("127.0.0.1", 50001), ipv4("127.0.0.1", 8080), 6, 0, 0},
        row_case{"OtherLoopbackAddress",
                 "   4: 0200007F:0050 0100007F:D431 01 00000000:00000000 00:00000000 00000000  "
                 "65534        0 99 1 0000000000000000 20 4 30 10 -1",
                 ipv4("127.0.0.2", 80), ipv4("127.0.0.1", 54321), 1, 65534, 99},
        row_case{"MappedAddressInTheIpv6Table",
                 "   1: 0000000000000000FFFF00000100007F:C350 0000000000000000FFFF00000100007F:1F90 "
                 "01 00000000:00000000 00:00000000 00000000  1000        0 777 1 0000000000000000 "
                 "20 4 30 10 -1",
                 ipv4("127.0.0.1", 50000), ipv4("127.0.0.1", 8080), 1, 1000, 777}),
    [](const ::testing::TestParamInfo<row_case>& info) { return std::string(info.param.name); });

struct refused_case {
  const char* name;
  std::string line;
};

void PrintTo(const refused_case& c, std::ostream* out) {
  *out << c.name << ": \"" << c.line << '"';
}

class TcpTableRowRefusalTest : public ::testing::TestWithParam<refused_case> {};

TEST_P(TcpTableRowRefusalTest, ReadsNoRow) {
  EXPECT_FALSE(read_tcp_table_row(GetParam().line).has_value());
}

// The fields end "1001 0 5 1": user, timeout, inode and one more; the cases break one field each.
const std::string row_head =
    "   3: 0100007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  ";

INSTANTIATE_TEST_SUITE_P(
    Lines, TcpTableRowRefusalTest,
    ::testing::Values(
        refused_case{"Heading", heading}, refused_case{"Empty", ""},
        refused_case{"CutShortBeforeTheInode", row_head + "1001"},
        refused_case{"AddressOfWrongLength",
                     "   3: 00007F:C350 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  "
                     "1001 0 5 1"},
        refused_case{"PortNotHexadecimal",
                     "   3: 0100007F:C3ZZ 0100007F:1F90 01 00000000:00000000 00:00000000 00000000  "
                     "1001 0 5 1"},
        refused_case{"UserNotANumber", row_head + "root 0 5 1"}),
    [](const ::testing::TestParamInfo<refused_case>& info) { return std::string(info.param.name); });

struct match_case {
  const char* name;
  std::string line;
  sockaddr_in address;
  bool matches;
};

void PrintTo(const match_case& c, std::ostream* out) {
  char text[INET_ADDRSTRLEN] = "";
  ::inet_ntop(AF_INET, &c.address.sin_addr, text, sizeof text);
  *out << c.name << ": " << text << ':' << ntohs(c.address.sin_port) << " in \"" << c.line << '"';
}

class TcpTableEndpointTest : public ::testing::TestWithParam<match_case> {};

TEST_P(TcpTableEndpointTest, MatchesOnlyTheSameAddressAndPort) {
  const match_case& c = GetParam();
  const std::optional<tcp_table_row> row = read_tcp_table_row(c.line);
  ASSERT_TRUE(row.has_value());
  EXPECT_EQ(row->local.is(c.address), c.matches);
}

const std::string v4_line = row_head + "1001 0 5 1";
const std::string v6_line =
    "   3: 0000000000000000FFFF00000100007F:C350 0000000000000000FFFF00000100007F:1F90 01 "
    "00000000:00000000 00:00000000 00000000  1001 0 5 1";
const std::string v6_loopback_line =
    "   3: 00000000000000000000000001000000:C350 00000000000000000000000001000000:1F90 01 "
    "00000000:00000000 00:00000000 00000000  1001 0 5 1";

INSTANTIATE_TEST_SUITE_P(
    Endpoints, TcpTableEndpointTest,
    ::testing::Values(match_case{"SameIpv4", v4_line, ipv4("127.0.0.1", 50000), true},
                      match_case{"OtherPort", v4_line, ipv4("127.0.0.1", 50001), false},
                      match_case{"OtherAddress", v4_line, ipv4("127.0.0.2", 50000), false},
                      match_case{"Mapped", v6_line, ipv4("127.0.0.1", 50000), true},
                      match_case{"MappedOtherPort", v6_line, ipv4("127.0.0.1", 8080), false},
                      // ::1 is not 127.0.0.1, although its last word looks alike.
                      match_case{"Ipv6LoopbackIsNotMapped", v6_loopback_line,
                                 ipv4("0.0.0.1", 50000), false}),
    [](const ::testing::TestParamInfo<match_case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrix::platform
