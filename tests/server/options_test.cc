#include "server/options.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "server/settings.h"

namespace ombrix {
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

// argv as main receives it: the program name first.
std::vector<const char*> make_argv(const std::vector<const char*>& words) {
  std::vector<const char*> argv{"ombrix"};
  argv.insert(argv.end(), words.begin(), words.end());
  argv.push_back(nullptr);
  return argv;
}

// ---- the scanner ----------------------------------------------------------------------------

struct scan_step {
  int result;
  const char* optarg;  // null: expect no argument
};

struct scan_case {
  const char* name;
  std::vector<const char*> words;
  std::vector<scan_step> steps;  // the last one is the -1 that ends the scan
  int final_optind;
};

class OptionScannerTest : public ::testing::TestWithParam<scan_case> {};

TEST_P(OptionScannerTest, ReturnsOptionsArgumentsAndEndIndex) {
  const scan_case& test = GetParam();
  const auto argv = make_argv(test.words);
  const int argc = static_cast<int>(argv.size()) - 1;
  option_scanner scanner;
  EXPECT_EQ(scanner.optind(), 0);
  for (std::size_t i = 0; i < test.steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    EXPECT_EQ(scanner.getopt(argc, argv.data()), test.steps[i].result);
    if (test.steps[i].optarg == nullptr) {
      EXPECT_EQ(scanner.optarg(), nullptr);
    } else {
      ASSERT_NE(scanner.optarg(), nullptr);
      EXPECT_STREQ(scanner.optarg(), test.steps[i].optarg);
    }
  }
  EXPECT_EQ(scanner.optind(), test.final_optind);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, OptionScannerTest,
    ::testing::Values(
        scan_case{"no_words", {}, {{-1, nullptr}}, 1},
        scan_case{"cluster", {"-am"}, {{'a', nullptr}, {'m', nullptr}, {-1, nullptr}}, 2},
        scan_case{"attached_argument", {"-p3182"}, {{'p', "3182"}, {-1, nullptr}}, 2},
        scan_case{"separate_argument", {"-p", "3182"}, {{'p', "3182"}, {-1, nullptr}}, 3},
        scan_case{"argument_after_flag_in_cluster",
                  {"-ad2"},
                  {{'a', nullptr}, {'d', "2"}, {-1, nullptr}},
                  2},
        scan_case{"negative_word_is_an_argument", {"-d", "-1"}, {{'d', "-1"}, {-1, nullptr}}, 3},
        scan_case{"stop_at_word", {"-d", "1", "extra", "-m"}, {{'d', "1"}, {-1, "extra"}}, 3},
        scan_case{"double_dash", {"--", "-m"}, {{-1, "-m"}}, 2},
        scan_case{"double_dash_last", {"-a", "--"}, {{'a', nullptr}, {-1, nullptr}}, 3},
        scan_case{"lone_dash", {"-", "-m"}, {{-1, "-"}}, 1},
        scan_case{"unknown_letter", {"-x"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"question_mark", {"-?"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"colon_is_no_option", {"-:"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"missing_argument", {"-p"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"unknown_letter_inside_cluster",
                  {"-axm"},
                  {{'a', nullptr}, {'?', nullptr}, {'m', nullptr}, {-1, nullptr}},
                  2},
        scan_case{"end_stays_at_end",
                  {"-c"},
                  {{'c', nullptr}, {-1, nullptr}, {-1, nullptr}},
                  2}),
    [](const ::testing::TestParamInfo<scan_case>& info) { return std::string(info.param.name); });

// ---- numeric values -------------------------------------------------------------------------

struct number_case {
  const char* text;
  std::int32_t value;
};

class ReadOptionNumberTest : public ::testing::TestWithParam<number_case> {};

TEST_P(ReadOptionNumberTest, ReadsLikeStrtoulIn32Bits) {
  EXPECT_EQ(read_option_number(GetParam().text), GetParam().value) << '"' << GetParam().text << '"';
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ReadOptionNumberTest,
    ::testing::Values(number_case{"3182", 3182}, number_case{"", 0}, number_case{"abc", 0},
                      number_case{"3182x", 3182}, number_case{"  \t\n42", 42},
                      number_case{"+7", 7}, number_case{"-1", -1}, number_case{"-", 0},
                      number_case{"- 5", 0}, number_case{"--5", 0}, number_case{"0x10", 0},
                      number_case{"007", 7}, number_case{"2147483647", 2147483647},
                      number_case{"2147483648", INT32_MIN}, number_case{"4294967295", -1},
                      number_case{"4294967296", -1}, number_case{"4294970478", -1},
                      number_case{"99999999999999999999999999", -1},
                      number_case{"-4294967295", 1}, number_case{"-4294967296", -1},
                      number_case{"-4294967216", 80}));

// ---- the command line -----------------------------------------------------------------------

struct command_case {
  const char* name;
  std::vector<const char*> words;
  std::optional<int> exit_code;
  std::string out;  // expected standard output
  std::string err;  // expected standard error
  command_line_settings settings;  // checked only when the server would start
};

command_line_settings with(void (*change)(command_line_settings&)) {
  command_line_settings settings;
  change(settings);
  return settings;
}

class CommandLineTest : public ::testing::TestWithParam<command_case> {};

TEST_P(CommandLineTest, DecidesExitCodeOutputAndSettings) {
  const command_case& test = GetParam();
  const auto argv = make_argv(test.words);
  std::ostringstream out;
  std::ostringstream err;
  const start_decision decision =
      read_command_line(static_cast<int>(argv.size()) - 1, argv.data(), out, err);
  EXPECT_EQ(decision.exit_code, test.exit_code);
  EXPECT_EQ(out.str(), test.out);
  EXPECT_EQ(err.str(), test.err);
  if (!test.exit_code) {
    const command_line_settings& got = decision.settings;
    EXPECT_EQ(got.port, test.settings.port);
    EXPECT_EQ(got.debug_level, test.settings.debug_level);
    EXPECT_EQ(got.host_version, test.settings.host_version);
    EXPECT_EQ(got.exit_on_logout, test.settings.exit_on_logout);
    EXPECT_EQ(got.case_insensitive, test.settings.case_insensitive);
    EXPECT_EQ(got.run_minimized, test.settings.run_minimized);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        command_case{"defaults", {}, std::nullopt, "", "", {}},
        command_case{"port_1025", {"-p", "1025"}, std::nullopt, "", "",
                     with([](auto& s) { s.port = 1025; })},
        command_case{"port_65535", {"-p", "65535"}, std::nullopt, "", "",
                     with([](auto& s) { s.port = 65535; })},
        command_case{"port_attached", {"-p3182"}, std::nullopt, "", "",
                     with([](auto& s) { s.port = 3182; })},
        command_case{"port_separate", {"-p", "3182"}, std::nullopt, "", "",
                     with([](auto& s) { s.port = 3182; })},
        command_case{"port_trailing_text", {"-p", "3182x"}, std::nullopt, "", "",
                     with([](auto& s) { s.port = 3182; })},
        command_case{"port_later_wins", {"-p", "2000", "-p", "3000"}, std::nullopt, "", "",
                     with([](auto& s) { s.port = 3000; })},
        command_case{"port_65536", {"-p", "65536"}, 1, "", invalid_port, {}},
        command_case{"port_80", {"-p", "80"}, 1, "", invalid_port, {}},
        command_case{"port_1024", {"-p", "1024"}, 1, "", invalid_port, {}},
        command_case{"port_abc", {"-p", "abc"}, 1, "", invalid_port, {}},
        command_case{"port_minus_one", {"-p", "-1"}, 1, "", invalid_port, {}},
        // 2^32 + 3182: a plain 64-bit strtoul truncated to 32 bits would give 3182.
        command_case{"port_beyond_32_bits", {"-p", "4294970478"}, 1, "", invalid_port, {}},
        command_case{"valid_then_invalid_port", {"-p", "3182", "-p", "99"}, 1, "", invalid_port,
                     {}},
        command_case{"invalid_port_before_usage", {"-p", "99", "-x"}, 1, "", invalid_port, {}},
        command_case{"version_71", {"-n", "71"}, std::nullopt, "", "",
                     with([](auto& s) { s.host_version = 71; })},
        command_case{"version_80", {"-n", "80"}, std::nullopt, "", "",
                     with([](auto& s) { s.host_version = 80; })},
        command_case{"version_8", {"-n", "8"}, 1, "", invalid_version, {}},
        command_case{"version_missing_digits", {"-n", "x"}, 1, "", invalid_version, {}},
        command_case{"version_stops_before_port", {"-n", "70", "-p", "1"}, 1, "",
                     invalid_version, {}},
        command_case{"version_wraps_like_32_bit_strtoul", {"-n", "-4294967216"}, std::nullopt,
                     "", "", with([](auto& s) { s.host_version = 80; })},
        command_case{"unknown_letter", {"-x"}, 0, usage_text, "", {}},
        command_case{"version_option", {"-v"}, 0, usage_text, "", {}},
        command_case{"question_mark", {"-?"}, 0, usage_text, "", {}},
        command_case{"port_without_argument", {"-p"}, 0, usage_text, "", {}},
        command_case{"flags_then_missing_argument", {"-a", "-n"}, 0, usage_text, "", {}},
        command_case{"usage_before_invalid_port", {"-x", "-p", "99"}, 0, usage_text, "", {}},
        command_case{"cluster_am", {"-am"}, std::nullopt, "", "", with([](auto& s) {
                       s.exit_on_logout = true;
                       s.run_minimized = true;
                     })},
        command_case{"case_insensitive", {"-c"}, std::nullopt, "", "",
                     with([](auto& s) { s.case_insensitive = true; })},
        command_case{"debug_attached", {"-d2"}, std::nullopt, "", "",
                     with([](auto& s) { s.debug_level = 2; })},
        command_case{"debug_minus_one", {"-d", "-1"}, std::nullopt, "", "",
                     with([](auto& s) { s.debug_level = -1; })},
        command_case{"debug_saturates", {"-d", "99999999999"}, std::nullopt, "", "",
                     with([](auto& s) { s.debug_level = -1; })},
        command_case{"stop_at_first_word", {"-d", "1", "extra", "-m"}, std::nullopt, "", "",
                     with([](auto& s) { s.debug_level = 1; })},
        command_case{"double_dash_ends_options", {"-c", "--", "-m"}, std::nullopt, "", "",
                     with([](auto& s) { s.case_insensitive = true; })},
        command_case{"lone_dash_ends_options", {"-a", "-", "-m"}, std::nullopt, "", "",
                     with([](auto& s) { s.exit_on_logout = true; })},
        command_case{"all_options", {"-acm", "-d", "2", "-n71", "-p", "4000"}, std::nullopt, "",
                     "", with([](auto& s) {
                       s.exit_on_logout = true;
                       s.case_insensitive = true;
                       s.run_minimized = true;
                       s.debug_level = 2;
                       s.host_version = 71;
                       s.port = 4000;
                     })}),
    [](const ::testing::TestParamInfo<command_case>& info) { return std::string(info.param.name); });

TEST(UsageTest, PrintsBannerWithBuildVersionAndOptionList) {
  std::ostringstream out;
  print_usage(out);
  EXPECT_EQ(out.str(), usage_text);
  EXPECT_STREQ(get_version_string(), "1.0.5");
  EXPECT_EQ(get_version_string(), get_version_string());  // one buffer for the whole process
}

TEST(ApplySettingsTest, StoresEverySettingInTheProcessWideSettings) {
  command_line_settings settings;
  settings.debug_level = -1;
  settings.host_version = 71;
  settings.exit_on_logout = true;
  settings.case_insensitive = true;
  settings.run_minimized = true;
  apply_settings(settings);
  EXPECT_EQ(debug_level, -1);
  EXPECT_EQ(host_version, 71);
  EXPECT_TRUE(exit_on_logout);
  EXPECT_TRUE(case_insensitive);
  EXPECT_TRUE(run_minimized);
  EXPECT_TRUE(debug_enabled(1));  // a negative level gives level-1 diagnostics only
  EXPECT_FALSE(debug_enabled(2));

  apply_settings(command_line_settings{});
  EXPECT_EQ(debug_level, 0);
  EXPECT_EQ(host_version, 80);
  EXPECT_FALSE(exit_on_logout);
  EXPECT_FALSE(case_insensitive);
  EXPECT_FALSE(run_minimized);
}

}  // namespace
}  // namespace ombrix
