// Server options seen from outside: -a (exit after the last logout), -c (root name case), -d
// (diagnostics on standard error), and many clients at once.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <sstream>
#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

class ExitOnLogout : public server_test {
 protected:
  std::vector<std::string> server_args() const override { return {"-a"}; }
};

TEST_F(ExitOnLogout, ProcessEndsWithZeroOnlyAfterTheLastLogout) {
  rest_client first = logged_in();
  rest_client second = logged_in();
  ASSERT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());  // no token
  ASSERT_EQ(first.get(api + "logout").raw, empty_success());
  // One session left: the server keeps serving.
  EXPECT_FALSE(server_->wait_for_exit(1500ms).has_value());
  EXPECT_EQ(second.get(api + "dir/MAIN").status, 200);

  ASSERT_EQ(second.get(api + "logout").raw, empty_success());
  std::optional<int> code = server_->wait_for_exit(5s);
  ASSERT_TRUE(code.has_value()) << "the server did not stop after the last logout";
  EXPECT_EQ(*code, 0);
}

class CaseInsensitive : public server_test {
 protected:
  std::vector<std::string> server_args() const override { return {"-c"}; }
};

TEST_F(CaseInsensitive, RootNameIgnoresCaseButFileNamesAndRenameDoNot) {
  rest_client client = logged_in();
  expect_responses(client, {
      {"GET", "file/main/CUSTOMERS/CUSTOMERS/C2", "", item_response("C2", c2_data)},
      {"GET", "dir/md", "", json_response(main_listing)},
      {"GET", "stat/Main/CUSTOMERS/CUSTOMERS/C2", "", json_response(R"({"attr":0,"size":13})")},
      // The rename rule compares segments exactly, also under -c.
      {"GET", "rename/MAIN/CUSTOMERS/CUSTOMERS/C2?newname=main/CUSTOMERS/CUSTOMERS/C7", "", rest_error(400, move_refused)},
      {"GET", "rename/main/CUSTOMERS/CUSTOMERS/C2?newname=main/CUSTOMERS/CUSTOMERS/C7", "", empty_success()},
  });
  // F and D are still compared exactly: customers,CUSTOMERS names a file that does not exist.
  EXPECT_TRUE(is_host_error(client.get(api + "file/MAIN/customers/CUSTOMERS/C7"), 404, "200"));
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
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
  ASSERT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/NOPE").status, 404);
  ASSERT_EQ(client.put(api + "file/MAIN/CUSTOMERS/CUSTOMERS/D2", R"({"data":["x"]})").raw, empty_success());
  ASSERT_EQ(rest_client(port(), token_for_sid("ff")).get(api + "dir/MAIN/CUSTOMERS").status, 401);
  ASSERT_EQ(parse_response(send_raw(http_request("POST", api + "login", R"({"ServerName":"NOPE"})"))).status, 404);
  ASSERT_EQ(send_raw("BREW / HTTP/1.1\r\nHost: a\r\n\r\n"), http_error(405));
  // Every connection thread ends with its own line; seven requests and the login above.
  std::vector<std::string> lines;
  for (auto deadline = std::chrono::steady_clock::now() + 5s;; std::this_thread::sleep_for(20ms)) {
    lines = lines_of(server_->stderr_text());
    if (std::count(lines.begin(), lines.end(), "End of thread execution") >= 8 ||
        std::chrono::steady_clock::now() > deadline) {
      break;
    }
  }
  const std::string err = server_->stderr_text();
  const std::string port_text = std::to_string(port());
  std::string notice = listening_notice(port());
  notice.pop_back();  // the line without its end
  for (const std::string& line : std::vector<std::string>{
           notice, "Debugging enabled", "Begin HTTP Request",
           "HTTP request: GET /quelm/restfs/file/MAIN/CUSTOMERS/CUSTOMERS/C2?x=1 HTTP/1.1", "HTTP request headers:",
           "  HTTP_HOST: 127.0.0.1", "  HTTP_AUTHORIZATION: Bearer " + client.token(), "  REQUEST_METHOD=GET",
           "  PATH_INFO=/quelm/restfs/file/MAIN/CUSTOMERS/CUSTOMERS/C2", "  SERVER_PORT=" + port_text, "  QS_X=1",
           "Calling Velquor", "Velquor returned status 200 with " + std::to_string(read.body.size()) + " bytes",
           "invalid MD/VOC for read: NOPE/X",
           "Velquor returned status 400 with " + std::to_string(refused.body.size()) + " bytes",
           "Velquor returned status 200 with no content", "session 'ff' not found for 'dir' action: MAIN/CUSTOMERS",
           "Illegal HTTP method BREW", "End of thread execution"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << "missing line: " << line << "\n" << err;
  }
  auto any_line = [&](std::string_view start, std::string_view end) {
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.starts_with(start) && l.ends_with(end); });
  };
  EXPECT_TRUE(any_line("COM error: ", " [0x800400ca]")) << err;
  EXPECT_TRUE(any_line("Failed to connect to server 'NOPE**' [0x800400c9 ", "]")) << err;
}

using DefaultOptions = server_test;

// Without -d only the listening line is written; without -a the last logout ends nothing.
TEST_F(DefaultOptions, QuietAndStillServingAfterTheLastLogout) {
  rest_client client = logged_in();
  ASSERT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/NOPE").status, 404);
  ASSERT_EQ(client.get(api + "file/NOPE/X").status, 400);
  ASSERT_EQ(send_raw("BREW / HTTP/1.1\r\nHost: a\r\n\r\n"), http_error(405));
  ASSERT_EQ(client.get(api + "logout").raw, empty_success());
  EXPECT_FALSE(server_->wait_for_exit(1500ms).has_value());
  EXPECT_EQ(logged_in().get(api + "dir/MAIN").status, 200);
  EXPECT_EQ(server_->stderr_text(), listening_notice(port()));
}

using ParallelClients = server_test;

// 16 clients at once, each with its own session and items, plus reads of one shared item.
TEST_F(ParallelClients, EverySessionWorksIndependently) {
  constexpr int clients = 16;
  std::vector<std::string> tokens(clients), failures(clients);
  std::vector<std::thread> threads;
  for (int n = 0; n < clients; ++n) {
    threads.emplace_back([&, n] {
      rest_client client(port());
      if (!client.login()) {
        failures[n] = "login: " + client.last().raw;
        return;
      }
      tokens[n] = client.token();
      const std::string id = "P" + std::to_string(n);
      const std::string url = api + "file/" + customers + "/" + id;
      for (int round = 0; round < 10 && failures[n].empty(); ++round) {
        std::string data = "[\"client " + std::to_string(n) + "\",[\"round\",\"" + std::to_string(round) + "\"]]";
        if (client.put(url, data_body(data)).raw != empty_success() ||
            client.get(url).raw != item_response(id, data) ||
            client.get(api + "file/" + customers + "/C2").raw != item_response("C2", c2_data) ||
            client.get(api + "stat/" + customers + "/" + id).status != 200) {
          failures[n] = "round " + std::to_string(round) + ": " + client.last().raw;
        }
      }
      if (failures[n].empty() && client.get(api + "logout").raw != empty_success()) {
        failures[n] = "logout: " + client.last().raw;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int n = 0; n < clients; ++n) EXPECT_EQ(failures[n], "") << "client " << n;
  EXPECT_EQ(std::set<std::string>(tokens.begin(), tokens.end()).size(), static_cast<size_t>(clients));
  http_response listing = logged_in().get(api + "dir/" + customers);
  for (int n = 0; n < clients; ++n) {
    EXPECT_NE(listing.body.find("{\"id\":\"P" + std::to_string(n) + "\","), std::string::npos) << n;
  }
}

}  // namespace
}  // namespace ombrix::e2e
