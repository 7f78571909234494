#include "base/text_helpers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace ombrix {
namespace {

using namespace std::string_literals;

struct hex_case {
  const char* text;
  unsigned char expected;
};

TEST(HexToChar, ReadsAHexadecimalNumberAndKeepsTheLowByte) {
  const hex_case cases[] = {{"", 0x00},    {"41", 0x41}, {"ff", 0xFF},  {"FF", 0xFF},
                            {"-1", 0xFF},  {"+f", 0x0F}, {"\t7", 0x07}, {"2z", 0x02},
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
      {"a+b", "a b"}, {"%2", "\x02"}, {"100%", "100\0"s}, {"%41%42", "AB"},
      {"%4142", "A42"}, {"", ""}, {"%00x", "\0x"s}, {"%2b", "+"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(url_decode(in), out) << '"' << in << '"';
}

TEST(UrlDecode, MalformedEscapeThrows) {
  EXPECT_THROW((void)url_decode("a%zzb"), std::runtime_error);
  EXPECT_THROW((void)url_decode("%%41"), std::runtime_error);
}

TEST(Trim, RemovesBlanksTabsCrAndLfAtBothEnds) {
  const std::pair<std::string, std::string> cases[] = {
      {"  a b \t\r\n", "a b"}, {"", ""}, {" \r\n\t", ""}, {"\va\v", "\va\v"}, {"\n x", "x"}};
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

}  // namespace
}  // namespace ombrix
