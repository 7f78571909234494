#include "server/options.h"

#include <gtest/gtest.h>

#include <optional>
#include <sstream>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

using test::invalid_port_text;
using test::invalid_version_text;
using test::usage_text;

// argv as main receives it: the program name first, a null last.
std::vector<const char*> make_argv(const std::vector<const char*>& words) {
  std::vector<const char*> argv{"ombrix"};
  argv.insert(argv.end(), words.begin(), words.end());
  argv.push_back(nullptr);
  return argv;
}

struct scan_case {
  const char* name;
  std::vector<const char*> words;
  std::vector<std::pair<int, const char*>> steps;  // result and optarg (null: none); ends at -1
  int final_optind;
};

// Failures name the case, not the bytes of the structure.
void PrintTo(const scan_case& c, std::ostream* out) { *out << c.name; }

class OptionScannerTest : public ::testing::TestWithParam<scan_case> {};

TEST_P(OptionScannerTest, ReturnsOptionsArgumentsAndEndIndex) {
  const scan_case& test = GetParam();
  const auto argv = make_argv(test.words);
  option_scanner scanner;
  EXPECT_EQ(scanner.optind(), 0);
  for (std::size_t i = 0; i < test.steps.size(); ++i) {
    SCOPED_TRACE("step " + std::to_string(i));
    EXPECT_EQ(scanner.getopt(static_cast<int>(argv.size()) - 1, argv.data()),
              test.steps[i].first);
    const char* expected = test.steps[i].second;
    EXPECT_EQ(scanner.optarg() ? std::optional<std::string>(scanner.optarg()) : std::nullopt,
              expected ? std::optional<std::string>(expected) : std::nullopt);
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
        scan_case{"argument_in_cluster", {"-ad2"}, {{'a', nullptr}, {'d', "2"}, {-1, nullptr}}, 2},
        scan_case{"negative_word_is_an_argument", {"-d", "-1"}, {{'d', "-1"}, {-1, nullptr}}, 3},
        scan_case{"stop_at_word", {"-d", "1", "extra", "-m"}, {{'d', "1"}, {-1, "extra"}}, 3},
        scan_case{"double_dash", {"--", "-m"}, {{-1, "-m"}}, 2},
        scan_case{"double_dash_last", {"-a", "--"}, {{'a', nullptr}, {-1, nullptr}}, 3},
        scan_case{"lone_dash", {"-", "-m"}, {{-1, "-"}}, 1},
        scan_case{"unknown_letter", {"-x"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"question_mark", {"-?"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"colon_is_no_option", {"-:"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"missing_argument", {"-p"}, {{'?', nullptr}, {-1, nullptr}}, 2},
        scan_case{"unknown_inside_cluster",
                  {"-axm"},
                  {{'a', nullptr}, {'?', nullptr}, {'m', nullptr}, {-1, nullptr}},
                  2},
        scan_case{"end_stays_at_end", {"-c"}, {{'c', nullptr}, {-1, nullptr}, {-1, nullptr}}, 2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ReadOptionNumberTest, ReadsLikeStrtoulIn32Bits) {
  const std::vector<std::pair<const char*, std::int32_t>> cases = {
      {"3182", 3182},          {"", 0},
      {"abc", 0},              {"3182x", 3182},
      {"  \t\n42", 42},        {"+7", 7},
      {"-1", -1},              {"-", 0},
      {"- 5", 0},              {"--5", 0},
      {"0x10", 0},             {"007", 7},
      {"2147483647", 2147483647}, {"2147483648", INT32_MIN},
      {"4294967295", -1},      {"4294967296", -1},
      {"4294970478", -1},      {"99999999999999999999999999", -1},
      {"-4294967295", 1},      {"-4294967296", -1},
      {"-4294967216", 80},
  };
  for (const auto& [text, value] : cases) EXPECT_EQ(read_option_number(text), value) << text;
}

struct command_case {
  const char* name;
  std::vector<const char*> words;
  std::optional<int> exit_code;  // none: the server starts with `settings`
  std::string out;
  std::string err;
  command_line_settings settings;
};

void PrintTo(const command_case& c, std::ostream* out) { *out << c.name; }

// flags holds the letters of the switches that are on ("a", "c", "m").
command_case starts(const char* name, std::vector<const char*> words, int port, int debug = 0,
                    int version = 80, std::string_view flags = "") {
  command_line_settings s{port, debug, version, flags.find('a') != std::string_view::npos,
                          flags.find('c') != std::string_view::npos,
                          flags.find('m') != std::string_view::npos};
  return {name, std::move(words), std::nullopt, "", "", s};
}
command_case exits(const char* name, std::vector<const char*> words, int code,
                   const std::string& err) {
  return {name, std::move(words), code, code == 0 ? usage_text : "", err, {}};
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
  if (test.exit_code) return;
  const command_line_settings& got = decision.settings;
  const command_line_settings& want = test.settings;
  EXPECT_EQ(got.port, want.port);
  EXPECT_EQ(got.debug_level, want.debug_level);
  EXPECT_EQ(got.host_version, want.host_version);
  EXPECT_EQ(got.exit_on_logout, want.exit_on_logout);
  EXPECT_EQ(got.case_insensitive, want.case_insensitive);
  EXPECT_EQ(got.run_minimized, want.run_minimized);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineTest,
    ::testing::Values(
        starts("defaults", {}, 3181), starts("port_1025", {"-p", "1025"}, 1025),
        starts("port_65535", {"-p", "65535"}, 65535), starts("port_attached", {"-p3182"}, 3182),
        starts("port_trailing_text", {"-p", "3182x"}, 3182),
        starts("port_later_wins", {"-p", "2000", "-p", "3000"}, 3000),
        exits("port_65536", {"-p", "65536"}, 1, invalid_port_text),
        exits("port_80", {"-p", "80"}, 1, invalid_port_text),
        exits("port_1024", {"-p", "1024"}, 1, invalid_port_text),
        exits("port_abc", {"-p", "abc"}, 1, invalid_port_text),
        exits("port_minus_one", {"-p", "-1"}, 1, invalid_port_text),
        // 2^32 + 3182: a plain 64-bit strtoul truncated to 32 bits would give 3182.
        exits("port_beyond_32_bits", {"-p", "4294970478"}, 1, invalid_port_text),
        exits("valid_then_invalid_port", {"-p", "3182", "-p", "99"}, 1, invalid_port_text),
        exits("invalid_port_before_usage", {"-p", "99", "-x"}, 1, invalid_port_text),
        starts("version_71", {"-n", "71"}, 3181, 0, 71),
        exits("version_8", {"-n", "8"}, 1, invalid_version_text),
        exits("version_missing_digits", {"-n", "x"}, 1, invalid_version_text),
        exits("version_stops_before_port", {"-n", "70", "-p", "1"}, 1, invalid_version_text),
        starts("version_wraps_like_32_bit_strtoul", {"-n", "-4294967216"}, 3181, 0, 80),
        exits("unknown_letter", {"-x"}, 0, ""), exits("version_option", {"-v"}, 0, ""),
        exits("port_without_argument", {"-p"}, 0, ""),
        exits("flags_then_missing_argument", {"-a", "-n"}, 0, ""),
        exits("usage_before_invalid_port", {"-x", "-p", "99"}, 0, ""),
        starts("cluster_am", {"-am"}, 3181, 0, 80, "am"),
        starts("case_insensitive", {"-c"}, 3181, 0, 80, "c"),
        starts("debug_attached", {"-d2"}, 3181, 2),
        starts("debug_minus_one", {"-d", "-1"}, 3181, -1),
        starts("debug_saturates", {"-d", "99999999999"}, 3181, -1),
        starts("stop_at_first_word", {"-d", "1", "extra", "-m"}, 3181, 1),
        starts("double_dash_ends_options", {"-c", "--", "-m"}, 3181, 0, 80, "c"),
        starts("lone_dash_ends_options", {"-a", "-", "-m"}, 3181, 0, 80, "a"),
        starts("all_options", {"-acm", "-d", "2", "-n71", "-p", "4000"}, 4000, 2, 71, "acm")),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ServerSettingsTest, CarriesEveryCommandLineSetting) {
  EXPECT_STREQ(get_version_string(), "1.0.5");
  const settings chosen = command_line_settings{3181, -1, 71, true, true, true}.server_settings();
  EXPECT_EQ(chosen.debug_level, -1);
  EXPECT_EQ(chosen.host_version, 71);
  EXPECT_TRUE(chosen.exit_on_logout && chosen.case_insensitive && chosen.run_minimized);
  EXPECT_TRUE(chosen.debug_enabled(1));  // a negative level gives level-1 diagnostics only
  EXPECT_FALSE(chosen.debug_enabled(2));
  const settings plain = command_line_settings{}.server_settings();
  EXPECT_EQ(plain.debug_level, 0);
  EXPECT_EQ(plain.host_version, 80);
  EXPECT_FALSE(plain.exit_on_logout || plain.case_insensitive || plain.run_minimized);
}

}  // namespace
}  // namespace ombrix
