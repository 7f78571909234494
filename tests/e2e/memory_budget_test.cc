// The memory budget against clients that hold bytes in flight, watched from outside through the
// server's resident memory: half-sent bodies and unread replies under a 16 MiB budget.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/time.h>

#include <cstdio>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

constexpr std::size_t mebibyte = 1024 * 1024;
constexpr std::size_t budget = 16 * mebibyte;
constexpr int clients = 8;
// Each client's body or reply: a third of the budget, so eight of them are three times it.
constexpr std::size_t item_bytes = 6'000'000;

// The resident memory of process `pid`, from /proc.
std::size_t resident_bytes(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with("VmRSS:")) return std::stoul(line.substr(6)) * 1024;
  }
  return 0;
}

// Under AddressSanitizer freed memory waits in a quarantine and every block carries red zones,
// so resident memory no longer follows what the server holds.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool resident_memory_is_the_programs = false;
#else
constexpr bool resident_memory_is_the_programs = true;
#endif

class MemoryBudget : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!resident_memory_is_the_programs || windows_programs()) {
      GTEST_SKIP() << "resident memory is the sanitizer's or Wine's, not the server's";
    }
    ASSERT_EQ(prepare_data_root(data_.str()), "");
    server_ = std::make_unique<server_process>(server_command(), data_.str(), std::vector<std::string>{},
                                               env_list{{"OMBRIX_MEMORY_BUDGET_MB", "16"}});
    client_ = std::make_unique<rest_client>(server_->port());
    ASSERT_TRUE(client_->login());
  }

  // Starts `clients` connections that each send `request` (as far as the server takes it within
  // 3 s) and then hold their connection without reading; returns the growth of the server's
  // resident memory 3.5 s later, and then reads what each connection received.
  std::size_t growth_while_held(const std::string& request, std::vector<std::string>& responses) {
    const std::size_t before = resident_bytes(server_->pid());
    std::vector<client_socket> sockets;
    std::vector<std::thread> senders;
    for (int i = 0; i < clients; ++i) {
      sockets.push_back(connect_loopback(server_->port()));
      const timeval limit{3, 0};
      ::setsockopt(sockets.back().fd(), SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    }
    for (auto& socket : sockets) {
      senders.emplace_back([&request, fd = socket.fd()] { send_all(fd, request); });
    }
    std::this_thread::sleep_for(3500ms);
    const std::size_t during = resident_bytes(server_->pid());
    for (auto& sender : senders) sender.join();
    for (auto& socket : sockets) responses.push_back(read_until_close(socket.fd(), 1s).bytes);
    return during > before ? during - before : 0;
  }

  temp_dir data_;
  std::unique_ptr<server_process> server_;
  std::unique_ptr<rest_client> client_;
};

const std::string busy = http_error(503, "server busy, try again later");

// Regression: a body was charged to the budget only once it had fully arrived: half-sent bodies
// grew the server by their whole size, past any budget, and new bodies were still taken.
TEST_F(MemoryBudget, HalfSentBodiesGrowTheServerByLittleMoreThanTheBudget) {
  const std::string request =
      http_request("PUT", api + "file/" + customers + "/H1", "",
                   {"Authorization: Bearer " + client_->token(),
                    "Content-Length: " + std::to_string(item_bytes + 1000)}) +
      std::string(item_bytes, 'h');
  std::vector<std::string> responses;
  const std::size_t growth = growth_while_held(request, responses);
  std::printf("half-sent bodies: %d x %zu bytes, server grew by %zu KiB\n", clients, item_bytes,
              growth / 1024);
  EXPECT_LT(growth, budget);
  int refused = 0;
  for (const std::string& response : responses) refused += response == busy;
  EXPECT_GE(refused, clients - 2);
  EXPECT_EQ(client_->get(api + "file/" + customers + "/C2").raw, item_response("C2", c2_data));
}

// Regression: replies were never charged, so clients that asked for a large item and did not
// read held a copy each, for as long as their connection lasted.
TEST_F(MemoryBudget, UnreadRepliesGrowTheServerByLittleMoreThanTheBudget) {
  const std::string data = "[\"" + std::string(item_bytes, 'r') + "\"]";
  ASSERT_EQ(client_->put(api + "file/" + customers + "/R1", data_body(data)).status, 200);
  const std::string request = http_request("GET", api + "file/" + customers + "/R1", "",
                                           {"Authorization: Bearer " + client_->token()});
  // Readers that take their replies at once first, so that the host's caches and the allocator's
  // heaps have grown to what such reads need before the growth is measured.
  std::vector<std::thread> readers;
  for (int i = 0; i < clients; ++i) {
    readers.emplace_back([&] { http_exchange(server_->port(), request); });
  }
  for (auto& reader : readers) reader.join();
  std::vector<std::string> responses;
  const std::size_t growth = growth_while_held(request, responses);
  std::printf("unread replies: %d x %zu bytes, server grew by %zu KiB\n", clients, item_bytes,
              growth / 1024);
  EXPECT_LT(growth, budget + 8 * mebibyte);
  int refused = 0;
  int served = 0;
  for (const std::string& response : responses) {
    refused += response == busy;
    served += response.starts_with("HTTP/1.1 200 OK\r\n");
  }
  EXPECT_GE(refused, clients - 3);
  EXPECT_EQ(refused + served, clients);
}

}  // namespace
}  // namespace ombrix::e2e
