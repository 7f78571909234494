// Server options seen from outside: -a (exit after the last logout), -c (root name case), -d
// (diagnostics on standard error), and many clients at once.
#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <sstream>
#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

bool has_line(const std::string& text, std::string_view line) {
  for (const auto& candidate : lines_of(text)) {
    if (candidate == line) return true;
  }
  return false;
}

class ExitOnLogout : public server_test {
 protected:
  std::vector<std::string> server_args() const override { return {"-a"}; }
};

TEST_F(ExitOnLogout, ProcessEndsWithZeroOnlyAfterTheLastLogout) {
  rest_client first = logged_in();
  rest_client second = logged_in();
  ASSERT_EQ(first.get(api + "logout").raw, empty_success());
  // One session left: the server keeps serving.
  EXPECT_FALSE(server_->wait_for_exit(1500ms).has_value());
  EXPECT_EQ(second.get(api + "dir/MAIN").status, 200);

  ASSERT_EQ(second.get(api + "logout").raw, empty_success());
  std::optional<int> code = server_->wait_for_exit(5s);
  ASSERT_TRUE(code.has_value()) << "the server did not stop after the last logout";
  EXPECT_EQ(*code, 0);
}

TEST_F(ExitOnLogout, LogoutWithoutTokenDoesNotStopTheServer) {
  rest_client client = logged_in();
  ASSERT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());
  EXPECT_FALSE(server_->wait_for_exit(1500ms).has_value());
  EXPECT_EQ(client.get(api + "dir/MAIN").status, 200);
}

TEST_F(ExitOnLogout, LogoutOfUnknownSessionStopsWhenNoSessionIsLeft) {
  rest_client stranger(port(), token_for_sid("ff"));
  EXPECT_EQ(stranger.get(api + "logout").raw, empty_success());
  std::optional<int> code = server_->wait_for_exit(5s);
  ASSERT_TRUE(code.has_value());
  EXPECT_EQ(*code, 0);
}

using WithoutExitOnLogout = server_test;

TEST_F(WithoutExitOnLogout, ServerKeepsRunningAfterTheLastLogout) {
  rest_client client = logged_in();
  ASSERT_EQ(client.get(api + "logout").raw, empty_success());
  EXPECT_FALSE(server_->wait_for_exit(1500ms).has_value());
  EXPECT_EQ(logged_in().get(api + "dir/MAIN").status, 200);
}

class CaseInsensitive : public server_test {
 protected:
  std::vector<std::string> server_args() const override { return {"-c"}; }
};

TEST_F(CaseInsensitive, RootNameIgnoresCaseButFileNamesDoNot) {
  rest_client client = logged_in();
  EXPECT_EQ(client.get(api + "file/main/CUSTOMERS/CUSTOMERS/C2").raw,
            json_response(R"({"id":"C2","type":"array","data":["Bob Jones","42"]})"));
  EXPECT_EQ(client.get(api + "dir/md").status, 200);
  EXPECT_EQ(client.get(api + "stat/Main/CUSTOMERS/CUSTOMERS/C2").status, 200);
  // F and D are still compared exactly: customers,CUSTOMERS names a file that does not exist.
  http_response other = client.get(api + "file/MAIN/customers/CUSTOMERS/C2");
  EXPECT_EQ(other.status, 404) << other.raw;
  EXPECT_TRUE(other.body.ends_with(R"(","code":"200"})")) << other.raw;
  // The rename rule compares segments exactly, also under -c.
  EXPECT_EQ(client.get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C2?newname=main/CUSTOMERS/CUSTOMERS/C7").raw,
            rest_error(400, "'move' is not supported for 'rename' (new and old directory must be the same)."));
  EXPECT_EQ(client.get(api + "rename/main/CUSTOMERS/CUSTOMERS/C2?newname=main/CUSTOMERS/CUSTOMERS/C7").raw,
            empty_success());
}

using CaseSensitive = server_test;

TEST_F(CaseSensitive, RootNameCaseCountsWithoutOption) {
  rest_client client = logged_in();
  EXPECT_EQ(client.get(api + "file/main/CUSTOMERS/CUSTOMERS/C2").raw,
            rest_error(400, "File MD, VOC or account name is not valid.", "201"));
}

class DebugLevelTwo : public server_test {
 protected:
  std::vector<std::string> server_args() const override { return {"-d", "2"}; }
};

TEST_F(DebugLevelTwo, WritesRequestTracesAndFailuresToStandardError) {
  rest_client client = logged_in();
  http_response read = client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2?x=1");
  ASSERT_EQ(read.status, 200);
  http_response refused = client.get(api + "file/NOPE/X");
  ASSERT_EQ(refused.status, 400);
  http_response missing = client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/NOPE");
  ASSERT_EQ(missing.status, 404);
  ASSERT_EQ(client.put(api + "file/MAIN/CUSTOMERS/CUSTOMERS/D2", R"({"data":["x"]})").raw, empty_success());
  ASSERT_EQ(rest_client(port(), token_for_sid("ff")).get(api + "dir/MAIN/CUSTOMERS").status, 401);
  ASSERT_EQ(parse_response(send_raw(http_request("POST", api + "login", R"({"ServerName":"NOPE"})"))).status, 404);
  ASSERT_EQ(send_raw("BREW / HTTP/1.1\r\nHost: a\r\n\r\n"), http_error(405));
  ASSERT_TRUE(server_->wait_for_stderr("Illegal HTTP method BREW\n"));
  // Every connection thread ends with its own line; seven requests and the login above.
  auto deadline = std::chrono::steady_clock::now() + 5s;
  std::string err;
  for (;;) {
    err = server_->stderr_text();
    size_t ends = 0;
    for (const auto& line : lines_of(err)) ends += line == "End of thread execution";
    if (ends >= 8 || std::chrono::steady_clock::now() > deadline) break;
    std::this_thread::sleep_for(20ms);
  }
  const std::string body_length = std::to_string(read.body.size());
  for (std::string line : {
           "Corvessa Ombrix server listening on port " + std::to_string(port()),
           std::string("Debugging enabled"),
           std::string("Begin HTTP Request"),
           std::string("HTTP request: GET /quelm/restfs/file/MAIN/CUSTOMERS/CUSTOMERS/C2?x=1 HTTP/1.1"),
           std::string("HTTP request headers:"),
           std::string("  HTTP_HOST: 127.0.0.1"),
           std::string("  HTTP_AUTHORIZATION: Bearer ") + client.token(),
           std::string("  REQUEST_METHOD=GET"),
           std::string("  PATH_INFO=/quelm/restfs/file/MAIN/CUSTOMERS/CUSTOMERS/C2"),
           "  SERVER_PORT=" + std::to_string(port()),
           std::string("  QS_X=1"),
           std::string("Calling Velquor"),
           "Velquor returned status 200 with " + body_length + " bytes",
           std::string("invalid MD/VOC for read: NOPE/X"),
           std::string("Velquor returned status 400 with ") + std::to_string(refused.body.size()) + " bytes",
           std::string("Velquor returned status 200 with no content"),
           std::string("session 'ff' not found for 'dir' action: MAIN/CUSTOMERS"),
           std::string("Illegal HTTP method BREW"),
           std::string("End of thread execution")}) {
    EXPECT_TRUE(has_line(err, line)) << "missing line: " << line << "\n--- stderr ---\n" << err;
  }
  bool com_error = false;
  for (const auto& line : lines_of(err)) {
    com_error = com_error || (line.starts_with("COM error: ") && line.ends_with(" [0x800400ca]"));
  }
  EXPECT_TRUE(com_error) << err;
  bool connect_failure = false;
  for (const auto& line : lines_of(err)) {
    connect_failure = connect_failure || (line.starts_with("Failed to connect to server 'NOPE**' [0x800400c9 ") &&
                                          line.ends_with("]"));
  }
  EXPECT_TRUE(connect_failure) << err;
}

using DebugLevelZero = server_test;

TEST_F(DebugLevelZero, WritesOnlyTheListeningLine) {
  rest_client client = logged_in();
  ASSERT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/NOPE").status, 404);
  ASSERT_EQ(client.get(api + "file/NOPE/X").status, 400);
  ASSERT_EQ(send_raw("BREW / HTTP/1.1\r\nHost: a\r\n\r\n"), http_error(405));
  std::this_thread::sleep_for(200ms);
  EXPECT_EQ(server_->stderr_text(),
            "Corvessa Ombrix server listening on port " + std::to_string(port()) + "\n");
}

using ParallelClients = server_test;

// 16 clients at once, each with its own session and items, plus reads of one shared item.
TEST_F(ParallelClients, EverySessionWorksIndependently) {
  constexpr int clients = 16;
  constexpr int rounds = 10;
  std::vector<std::string> tokens(clients);
  std::vector<std::string> failures(clients);
  std::vector<std::thread> threads;
  for (int n = 0; n < clients; ++n) {
    threads.emplace_back([&, n] {
      rest_client client(port());
      if (!client.login()) {
        failures[n] = "login: " + client.last().raw;
        return;
      }
      tokens[n] = client.token();
      for (int round = 0; round < rounds && failures[n].empty(); ++round) {
        std::string id = "P" + std::to_string(n);
        std::string data = "[\"client " + std::to_string(n) + "\",[\"round\",\"" + std::to_string(round) + "\"]]";
        std::string url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/" + id;
        if (client.put(url, "{\"data\":" + data + "}").raw != empty_success()) {
          failures[n] = "put: " + client.last().raw;
        } else if (client.get(url).raw != json_response("{\"id\":\"" + id + "\",\"type\":\"array\",\"data\":" + data + "}")) {
          failures[n] = "get: " + client.last().raw;
        } else if (client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2").raw !=
                   json_response(R"({"id":"C2","type":"array","data":["Bob Jones","42"]})")) {
          failures[n] = "shared get: " + client.last().raw;
        } else if (client.get(api + "stat/MAIN/CUSTOMERS/CUSTOMERS/" + id).status != 200) {
          failures[n] = "stat: " + client.last().raw;
        }
      }
      if (failures[n].empty() && client.get(api + "logout").raw != empty_success()) {
        failures[n] = "logout: " + client.last().raw;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int n = 0; n < clients; ++n) EXPECT_EQ(failures[n], "") << "client " << n;
  std::set<std::string> distinct(tokens.begin(), tokens.end());
  EXPECT_EQ(distinct.size(), static_cast<size_t>(clients));

  rest_client checker = logged_in();
  http_response listing = checker.get(api + "dir/MAIN/CUSTOMERS/CUSTOMERS");
  for (int n = 0; n < clients; ++n) {
    EXPECT_NE(listing.body.find("{\"id\":\"P" + std::to_string(n) + "\","), std::string::npos) << n;
  }
}

}  // namespace
}  // namespace ombrix::e2e
