// The server binary's command line seen from outside: usage text, validation messages, exit codes.
#include <gtest/gtest.h>

#include <cerrno>

#include "tests/e2e/http_client.h"
#include "tests/e2e/server_process.h"

namespace ombrix::e2e {
namespace {

const std::string usage_text =
    "Corvessa Ombrix Server v1.0.5\n"
    "-a\t\tExit when client logs out\n"
    "-d <level>\tDebug level 1 or 2\n"
    "-m\t\tRun minimized\n"
    "-n <version>\tCorvessa version 71 or 80\n"
    "-p <port>\tPort number for connections\n"
    "\n";

const std::string invalid_port = "Invalid port specified - must be between 1025-65535\n";
const std::string invalid_version =
    "Invalid server version - must be 71 (Corvessa 7.1) or 80 (Corvessa 8.0)\n";

struct exit_case {
  const char* name;
  std::vector<std::string> args;
  int exit_code;
  std::string out;
  std::string err;
};

void PrintTo(const exit_case& c, std::ostream* out) { *out << c.name; }

class CommandLineExit : public ::testing::TestWithParam<exit_case> {};

TEST_P(CommandLineExit, PrintsExactTextAndExitCode) {
  const exit_case& c = GetParam();
  std::vector<std::string> argv{server_binary()};
  argv.insert(argv.end(), c.args.begin(), c.args.end());
  run_result result = run_program(argv, {}, 10s);
  ASSERT_TRUE(result.exited) << "the process did not end by itself";
  EXPECT_EQ(result.exit_code, c.exit_code);
  EXPECT_EQ(result.out, c.out);
  EXPECT_EQ(result.err, c.err);
}

INSTANTIATE_TEST_SUITE_P(
    Options, CommandLineExit,
    ::testing::Values(
        exit_case{"Version", {"-v"}, 0, usage_text, ""},
        exit_case{"QuestionMark", {"-?"}, 0, usage_text, ""},
        exit_case{"UnknownLetter", {"-x"}, 0, usage_text, ""},
        exit_case{"PortWithoutValue", {"-p"}, 0, usage_text, ""},
        exit_case{"UsageAfterValidOptions", {"-a", "-c", "-v"}, 0, usage_text, ""},
        exit_case{"PortTooLarge", {"-p", "65536"}, 1, "", invalid_port},
        exit_case{"PortBelowRange", {"-p", "80"}, 1, "", invalid_port},
        exit_case{"PortNotANumber", {"-p", "abc"}, 1, "", invalid_port},
        exit_case{"LaterInvalidPortWins", {"-p", "3182", "-p", "99"}, 1, "", invalid_port},
        exit_case{"GluedInvalidPort", {"-p1024"}, 1, "", invalid_port},
        exit_case{"VersionEight", {"-n", "8"}, 1, "", invalid_version},
        exit_case{"VersionNotANumber", {"-n", "abc"}, 1, "", invalid_version},
        exit_case{"InvalidVersionBeforeUsage", {"-n", "72", "-v"}, 1, "", invalid_version}),
    [](const ::testing::TestParamInfo<exit_case>& info) { return std::string(info.param.name); });

// A bound port: the server reports the port and the platform's error number and ends with 1.
TEST(CommandLine, BusyPortGivesBindMessageAndExitCodeOne) {
  int holder = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(holder, 0);
  client_socket owned(holder);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = 0;
  ASSERT_EQ(::bind(holder, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(holder, 1), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(holder, reinterpret_cast<sockaddr*>(&address), &length), 0);
  int port = ntohs(address.sin_port);

  run_result result = run_program({server_binary(), "-p", std::to_string(port)}, {}, 10s);
  ASSERT_TRUE(result.exited);
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.err, "Cannot bind to port " + std::to_string(port) + ": " +
                            std::to_string(EADDRINUSE) + "\n");
  EXPECT_EQ(result.out, "");
}

// Scanning stops at the first word that is not an option, so "-v" after it is never seen and the
// server starts.
TEST(CommandLine, OptionsStopAtFirstPlainWord) {
  temp_dir data;
  server_process server(server_binary(), data.str(), {"extra", "-v"});
  EXPECT_TRUE(server.running());
  EXPECT_EQ(server.stdout_text(), "");
  EXPECT_EQ(server.stderr_text(),
            "Corvessa Ombrix server listening on port " + std::to_string(server.port()) + "\n");
}

TEST(CommandLine, DebugLevelOneAnnouncesDebugging) {
  temp_dir data;
  server_process server(server_binary(), data.str(), {"-d", "1"});
  EXPECT_TRUE(server.wait_for_stderr("Debugging enabled\n", 2s));
  EXPECT_EQ(server.stderr_text(), "Corvessa Ombrix server listening on port " +
                                      std::to_string(server.port()) + "\nDebugging enabled\n");
}

}  // namespace
}  // namespace ombrix::e2e
