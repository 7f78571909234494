// The server binary's command line seen from outside: usage text, validation messages, exit codes.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/loopback_client.h"
#include "tests/e2e/server_process.h"

namespace ombrix::e2e {
namespace {

TEST(CommandLine, PrintsExactTextAndExitCode) {
  struct {
    std::vector<std::string> args;
    int exit_code;
    std::string out, err;
  } const cases[] = {
      {{"-v"}, 0, usage_text, ""},
      {{"-p", "65536"}, 1, "", invalid_port_text},
      {{"-n", "8"}, 1, "", invalid_version_text},
      {{"-n", "72", "-v"}, 1, "", invalid_version_text},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    run_result result = run_program(server_command(c.args), {}, 10s);
    ASSERT_TRUE(result.exited) << "the process did not end by itself";
    EXPECT_EQ(result.exit_code, c.exit_code);
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.err, c.err);
  }
}

// A bound port: the server reports the port and the platform's error number and ends with 1.
TEST(CommandLine, BusyPortGivesBindMessageAndExitCodeOne) {
  client_socket holder(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  ASSERT_TRUE(holder.valid());
  sockaddr_in address = loopback_address(0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::bind(holder.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder.fd(), 1), 0);
  ASSERT_EQ(::getsockname(holder.fd(), reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string port = std::to_string(ntohs(address.sin_port));

  run_result result = run_program(server_command({"-p", port}), {}, 10s);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Cannot bind to port " + port + ": " + std::to_string(address_in_use_error()) + "\n");
  EXPECT_EQ(result.out, "");
}

// Scanning stops at the first word that is not an option, so "-v" after it is never seen and the
// server starts; "-d 1" announces debugging after the listening line.
TEST(CommandLine, OptionsStopAtFirstPlainWordAndDebugIsAnnounced) {
  temp_dir data;
  server_process plain(server_command(), data.str(), {"extra", "-v"});
  EXPECT_TRUE(plain.running());
  EXPECT_EQ(plain.stdout_text(), "");
  EXPECT_EQ(plain.stderr_text(), listening_notice(plain.port()));
  server_process debug(server_command(), data.str(), {"-d", "1"});
  EXPECT_TRUE(debug.wait_for_stderr("Debugging enabled\n", 2s));
  EXPECT_EQ(debug.stderr_text(), listening_notice(debug.port()) + "Debugging enabled\n");
}

}  // namespace
}  // namespace ombrix::e2e
