#include "http/query_string.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/http/http_test_support.h"

namespace ombrix {
namespace {

using test::debug_level_guard;

using namespace std::string_literals;

struct query_case {
  const char* name;
  std::string query;
  std::string lines;
};

class QueryStringDecoding : public testing::TestWithParam<query_case> {};

TEST_P(QueryStringDecoding, AppendsTheExpectedLines) {
  const query_case& c = GetParam();
  std::string environment = "REQUEST_METHOD=GET\r\n";
  ASSERT_TRUE(parse_query_string(c.query, environment));
  EXPECT_EQ(environment, "REQUEST_METHOD=GET\r\n" + c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, QueryStringDecoding,
    testing::Values(
        query_case{"two_pairs_in_order", "a=1&b=2", "QS_A=1\r\nQS_B=2\r\n"},
        query_case{"plus_and_percent_blank", "name=John+Smith&city=New%20York",
                   "QS_NAME=John Smith\r\nQS_CITY=New York\r\n"},
        query_case{"name_without_equals", "x", "QS_X=\r\n"},
        query_case{"name_with_empty_value", "x=", "QS_X=\r\n"},
        query_case{"leading_equals_is_part_of_name", "=5", "QS_=5=\r\n"},
        query_case{"second_equals_separates", "==5", "QS_==5\r\n"},
        query_case{"lone_equals_is_a_name", "=", "QS_==\r\n"},
        query_case{"later_equals_stay_in_value", "a=1=2", "QS_A=1=2\r\n"},
        query_case{"name_decoded_then_trimmed", "%20a%20=v", "QS_A=v\r\n"},
        query_case{"value_keeps_blanks", "a= v ", "QS_A= v \r\n"},
        query_case{"empty_pairs_dropped", "&&a=1&", "QS_A=1\r\n"},
        query_case{"blank_name_dropped", "+=1&b=2", "QS_B=2\r\n"},
        query_case{"two_escapes", "a=%41%42", "QS_A=AB\r\n"},
        query_case{"one_digit_escape", "a=%4", "QS_A=\x04\r\n"},
        query_case{"escape_at_end_gives_nul", "a=%", "QS_A=\0\r\n"s},
        query_case{"half_hex_escape_consumes_both", "a=%2z", "QS_A=\x02\r\n"},
        query_case{"escape_takes_two_digits_only", "a=%FFF", "QS_A=\xFF" "F\r\n"},
        query_case{"same_name_twice", "a=1&a=2", "QS_A=1\r\nQS_A=2\r\n"},
        query_case{"semicolon_does_not_separate", "a=1;b=2", "QS_A=1;b=2\r\n"},
        query_case{"empty_query", "", ""},
        query_case{"only_name_upper_cased", "MiXeD=CaSe", "QS_MIXED=CaSe\r\n"},
        query_case{"escaped_name_upper_cased", "%61b=1", "QS_AB=1\r\n"},
        query_case{"plus_in_name_and_value", "a+b=c+d", "QS_A B=c d\r\n"},
        query_case{"escaped_ampersand_and_equals_stay", "a=%26%3D", "QS_A=&=\r\n"},
        query_case{"trailing_cr_of_name_trimmed", "a%0D=1", "QS_A=1\r\n"},
        query_case{"line_break_in_dropped_pair_ignored", "%20=%0D%0A&b=2", "QS_B=2\r\n"},
        query_case{"signed_escape", "a=%-1", "QS_A=\xFF\r\n"},
        query_case{"escape_with_blank_before_digit", "a=% 5", "QS_A=\x05\r\n"},
        query_case{"hex_prefix_is_not_a_digit", "a=%0x", "QS_A=\0\r\n"s},
        query_case{"utf8_bytes_pass", "a=%C3%A9", "QS_A=\xC3\xA9\r\n"}),
    [](const testing::TestParamInfo<query_case>& info) { return std::string(info.param.name); });

struct refused_case {
  const char* name;
  std::string query;
  bool throws;  // true: malformed escape; false: refused for a line break
};

class QueryStringRefusal : public testing::TestWithParam<refused_case> {};

TEST_P(QueryStringRefusal, LeavesTheEnvironmentUnchanged) {
  const refused_case& c = GetParam();
  std::string environment = "PATH_INFO=/\r\n";
  if (c.throws) {
    try {
      (void)parse_query_string(c.query, environment);
      ADD_FAILURE() << "no exception for " << c.query;
    } catch (const std::runtime_error& error) {
      EXPECT_STREQ(error.what(), "hex to char failure");
    }
  } else {
    EXPECT_FALSE(parse_query_string(c.query, environment));
  }
  EXPECT_EQ(environment, "PATH_INFO=/\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, QueryStringRefusal,
    testing::Values(refused_case{"non_hex_escape", "a=%zz", true},
                    refused_case{"non_hex_escape_in_name", "%zz=1", true},
                    refused_case{"earlier_pairs_discarded", "a=1&b=%zz", true},
                    refused_case{"blank_only_escape", "a=% ", true},
                    refused_case{"sign_only_escape", "a=%-", true},
                    refused_case{"percent_after_percent", "a=%%41", true},
                    refused_case{"escape_in_dropped_pair_still_fails", "%20=%zz", true},
                    refused_case{"crlf_in_value", "a=1&b=x%0D%0AQS_ADMIN=1", false},
                    refused_case{"lf_in_value", "a=x%0Ay", false},
                    refused_case{"cr_in_value", "a=%0d", false},
                    refused_case{"lf_inside_name", "a%0Ab=1", false}),
    [](const testing::TestParamInfo<refused_case>& info) { return std::string(info.param.name); });

struct hex_case {
  const char* text;
  unsigned char expected;
};

TEST(HexToChar, ReadsAHexadecimalNumberAndKeepsTheLowByte) {
  const hex_case cases[] = {{"", 0x00},   {"41", 0x41}, {"4", 0x04},   {"ff", 0xFF},
                            {"FF", 0xFF}, {"-1", 0xFF}, {"+f", 0x0F},  {" 5", 0x05},
                            {"\t7", 0x07}, {"2z", 0x02}, {"0x", 0x00}, {"100", 0x00},
                            {"1FF", 0xFF}, {"-80", 0x80}};
  for (const hex_case& c : cases) {
    EXPECT_EQ(static_cast<unsigned char>(hex_to_char(c.text)), c.expected) << '"' << c.text << '"';
  }
}

TEST(HexToChar, ThrowsWhenNoDigitCanBeRead) {
  for (const char* text : {"zz", " ", "-", "+", "x1", "g0", "%4"}) {
    EXPECT_THROW((void)hex_to_char(text), std::runtime_error) << '"' << text << '"';
  }
}

TEST(UrlDecode, DecodesEscapesAndPlus) {
  const std::pair<std::string, std::string> cases[] = {
      {"a+b", "a b"},       {"%2", "\x02"},          {"%", "\0"s},
      {"100%", "100\0"s},   {"%41%42", "AB"},         {"%4142", "A42"},
      {"/a%2Fb", "/a/b"},   {"plain", "plain"},       {"", ""},
      {"%00x", "\0x"s},     {"%2b", "+"},             {"++", "  "}};
  for (const auto& [in, out] : cases) EXPECT_EQ(url_decode(in), out) << '"' << in << '"';
}

TEST(UrlDecode, MalformedEscapeThrows) {
  EXPECT_THROW((void)url_decode("a%zzb"), std::runtime_error);
  EXPECT_THROW((void)url_decode("%%41"), std::runtime_error);
}

TEST(Trim, RemovesBlanksTabsCrAndLfAtBothEnds) {
  const std::pair<std::string, std::string> cases[] = {
      {"  a b \t\r\n", "a b"}, {"", ""},   {" \r\n\t", ""},        {"x", "x"},
      {"\va\v", "\va\v"},      {"\n x", "x"}, {"x\r", "x"}, {"a \t b", "a \t b"}};
  for (auto [in, out] : cases) {
    std::string text = in;
    trim(text);
    EXPECT_EQ(text, out) << '"' << in << '"';
  }
}

TEST(ToUpper, ChangesOnlyAsciiLetters) {
  std::string text = "abc-xyz_ABC 09@[`{\xE9";
  to_upper(text);
  EXPECT_EQ(text, "ABC-XYZ_ABC 09@[`{\xE9");
}

TEST(EqualsIgnoreCase, ComparesLengthThenLowerCasedBytes) {
  struct {
    const char* a;
    const char* b;
    bool equal;
  } const cases[] = {
      {"Application/X-WWW-Form-Urlencoded", "application/x-www-form-urlencoded", true},
      {"application/x-www-form-urlencoded; charset=utf-8", "application/x-www-form-urlencoded",
       false},
      {"", "", true},
      {"a", "ab", false},
      {"[", "{", false},  // 'Z' + 1 and 'z' + 1 are not letters
      {"@", "`", false},
      {"HOST", "host", true},
      {"\xC9", "\xE9", false},  // only ASCII letters fold
  };
  for (const auto& c : cases) {
    EXPECT_EQ(equals_ignore_case(c.a, c.b), c.equal) << '"' << c.a << "\" vs \"" << c.b << '"';
  }
}

TEST(QueryStringDiagnostics, EchoesEachPairAtLevelTwoOnly) {
  for (int level : {0, 1, 2}) {
    debug_level_guard guard(level);
    std::string environment;
    testing::internal::CaptureStderr();
    ASSERT_TRUE(parse_query_string("a=1&b=x%20y&%20=dropped", environment));
    const std::string written = testing::internal::GetCapturedStderr();
    EXPECT_EQ(written, level >= 2 ? "  QS_A=1\n  QS_B=x y\n" : "") << "level " << level;
  }
}

}  // namespace
}  // namespace ombrix
