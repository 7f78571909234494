// The real server refuses a client run by another user and serves its own user. Starts the
// build's ombrix; the other user is 65534, reached through setpriv, which needs root.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "tests/e2e/server_process.h"

namespace ombrix {
namespace {

using namespace ombrix::e2e;

TEST(ForeignUserRefusedProcessTest, OtherUsersClientGetsNoReplyOwnUserIsAnswered) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to run a client as another user";
  if (::access("/usr/bin/setpriv", X_OK) != 0) GTEST_SKIP() << "setpriv (util-linux) is missing";
  temp_dir data("ombrix-guard");
  server_process server(server_command(), data.str(), {"-d", "1"});
  // A bash client that sends one request and prints what comes back. A refused connection is
  // reset, which must end the client with an error, not with SIGPIPE.
  const std::vector<std::string> client{"/bin/bash", "-c", "trap '' PIPE; exec 3<>/dev/tcp/127.0.0.1/" + std::to_string(server.port()) + "; printf 'GET / HTTP/1.0\\r\\n\\r\\n' >&3; cat <&3"};
  std::vector<std::string> as_nobody{"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  as_nobody.insert(as_nobody.end(), client.begin(), client.end());
  const auto started = std::chrono::steady_clock::now();
  EXPECT_EQ(run_program(as_nobody, {}, std::chrono::seconds(20)).out, "") << "no reply byte reaches another user";
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(10)) << "the refused client was left hanging";
  EXPECT_TRUE(server.wait_for_stderr("Refused connection from user 65534\n")) << server.stderr_text();
  const run_result served = run_program(client, {}, std::chrono::seconds(20));
  EXPECT_TRUE(served.out.starts_with("HTTP/1.1 ")) << served.out << served.err;
  EXPECT_EQ(server.stderr_text().find("Refused connection from user 0"), std::string::npos);
}

}  // namespace
}  // namespace ombrix
