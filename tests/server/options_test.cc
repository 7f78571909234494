#include "server/options.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "base/settings.h"
#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

using test::invalid_port_text;
using test::invalid_version_text;

// argv as main receives it: the program name first, a null last.
std::vector<const char*> make_argv(const std::vector<const char*>& words) {
  std::vector<const char*> argv{"ombrix"};
  argv.insert(argv.end(), words.begin(), words.end());
  argv.push_back(nullptr);
  return argv;
}

// flags holds the letters of the switches that are on ("a", "c", "m"); exit -1: the server starts.
struct command_case {
  std::vector<const char*> words;
  int exit = -1;
  std::string err = "";
  int port = 3181, debug = 0, version = 80;
  std::string_view flags = "";
};

TEST(CommandLineTest, DecidesExitCodeOutputAndSettings) {
  const command_case cases[] = {
      {{}}, {{"-p", "1025"}, -1, "", 1025}, {{"-p", "65535"}, -1, "", 65535}, {{"-p3182x"}, -1, "", 3182}, {{"-p", " \t+3182"}, -1, "", 3182}, {{"-p", "0x10"}, 1, invalid_port_text},
      {{"-p", "2000", "-p", "3000"}, -1, "", 3000},
      {{"-p", "65536"}, 1, invalid_port_text}, {{"-p", "1024"}, 1, invalid_port_text}, {{"-p", "abc"}, 1, invalid_port_text},
      // 2^32 + 3182: a plain 64-bit strtoul truncated to 32 bits would give 3182.
      {{"-p", "4294970478"}, 1, invalid_port_text}, {{"-p", "3182", "-p", "99"}, 1, invalid_port_text},
      {{"-p", "99", "-x"}, 1, invalid_port_text}, {{"-n", "71"}, -1, "", 3181, 0, 71},
      {{"-n", "8"}, 1, invalid_version_text}, {{"-n", "70", "-p", "1"}, 1, invalid_version_text},
      {{"-n", "-4294967216"}, -1, "", 3181, 0, 80},
      {{"-x"}, 0}, {{"-v"}, 0}, {{"-p"}, 0}, {{"-a", "-n"}, 0}, {{"-x", "-p", "99"}, 0}, {{"-?"}, 0}, {{"-:"}, 0}, {{"-axm"}, 0},
      {{"-ad2"}, -1, "", 3181, 2, 80, "a"}, {{"-d", "-1"}, -1, "", 3181, -1},
      {{"-am"}, -1, "", 3181, 0, 80, "am"}, {{"-c"}, -1, "", 3181, 0, 80, "c"}, {{"-d2"}, -1, "", 3181, 2},
      {{"-d", "99999999999"}, -1, "", 3181, -1}, {{"-d", "1", "extra", "-m"}, -1, "", 3181, 1},
      {{"-c", "--", "-m"}, -1, "", 3181, 0, 80, "c"}, {{"-a", "-", "-m"}, -1, "", 3181, 0, 80, "a"},
      {{"-acm", "-d", "2", "-n71", "-p", "4000"}, -1, "", 4000, 2, 71, "acm"},
  };
  for (const command_case& test : cases) {
    std::string words;
    for (const char* word : test.words) words += std::string(word) + ' ';
    SCOPED_TRACE(words);
    const auto argv = make_argv(test.words);
    std::ostringstream out, err;
    const start_decision decision = read_command_line(static_cast<int>(argv.size()) - 1, argv.data(), out, err);
    EXPECT_EQ(decision.exit_code, test.exit < 0 ? std::nullopt : std::optional<int>(test.exit));
    EXPECT_EQ(out.str(), test.exit == 0 ? test::usage_text : "");
    EXPECT_EQ(err.str(), test.err);
    if (test.exit >= 0) continue;
    const command_line_settings& got = decision.settings;
    const std::string flags = std::string(got.exit_on_logout ? "a" : "") + (got.case_insensitive ? "c" : "") + (got.run_minimized ? "m" : "");
    EXPECT_EQ(std::make_tuple(got.port, got.debug_level, got.host_version, flags), std::make_tuple(test.port, test.debug, test.version, std::string(test.flags)));
  }
}

TEST(ServerSettingsTest, CarriesEveryCommandLineSetting) {
  const settings chosen = command_line_settings{3181, -1, 71, true, true, true}.server_settings(), plain = command_line_settings{}.server_settings();
  EXPECT_TRUE(chosen.debug_level == -1 && chosen.host_version == 71 && chosen.exit_on_logout && chosen.case_insensitive && chosen.run_minimized);
  EXPECT_TRUE(chosen.debug_enabled(1) && !chosen.debug_enabled(2));  // a negative level gives level-1 diagnostics only
  EXPECT_STREQ(get_version_string(), "1.0.5");
  EXPECT_TRUE(plain.debug_level == 0 && plain.host_version == 80 && !plain.exit_on_logout && !plain.case_insensitive && !plain.run_minimized);
}

}  // namespace
}  // namespace ombrix
