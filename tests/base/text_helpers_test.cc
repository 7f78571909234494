#include "base/text_helpers.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>

namespace ombrix {
namespace {

using namespace std::string_literals;

// hex_to_char reads a hexadecimal number as strtol does and keeps the low byte; no digit throws.
TEST(HexToChar, ReadsAHexadecimalNumberAndKeepsTheLowByte) {
  const std::pair<const char*, int> cases[] = {{"", 0x00}, {"41", 0x41}, {"ff", 0xFF}, {"FF", 0xFF}, {"-1", 0xFF}, {"+f", 0x0F},
                                               {" \t\n\v\f\r7", 0x07}, {"2z", 0x02}, {"1FF", 0xFF}, {"-80", 0x80}};
  for (const auto& [text, value] : cases) EXPECT_EQ(static_cast<unsigned char>(hex_to_char(text)), value) << '"' << text << '"';
  for (const char* text : {"zz", " ", "-", "+", "x1", "g0", "%4"}) EXPECT_THROW((void)hex_to_char(text), std::runtime_error) << text;
}

TEST(UrlDecode, DecodesEscapesAndPlusAndThrowsOnAMalformedEscape) {
  const std::pair<std::string, std::string> cases[] = {{"a+b", "a b"}, {"%2", "\x02"}, {"100%", "100\0"s}, {"%41%42", "AB"},
                                                       {"%4142", "A42"}, {"", ""}, {"%00x", "\0x"s}, {"%2b", "+"}};
  for (const auto& [in, out] : cases) EXPECT_EQ(url_decode(in), out) << '"' << in << '"';
  EXPECT_THROW((void)url_decode("a%zzb"), std::runtime_error);
  EXPECT_THROW((void)url_decode("%%41"), std::runtime_error);
}

TEST(Trim, RemovesBlanksTabsCrAndLfAtBothEnds) {
  const std::pair<std::string, std::string> cases[] = {{"  a b \t\r\n", "a b"}, {"", ""}, {" \r\n\t", ""}, {"\va\v", "\va\v"}, {"\n x", "x"}};
  for (auto [text, out] : cases) {
    trim(text);
    EXPECT_EQ(text, out);
  }
}

TEST(ToUpperAndEqualsIgnoreCase, FoldOnlyAsciiLetters) {
  std::string text = "abc-xyz_ABC 09@[`{\xE9";
  to_upper(text);
  EXPECT_EQ(text, "ABC-XYZ_ABC 09@[`{\xE9");
  const std::tuple<const char*, const char*, bool> cases[] = {{"Application/X-WWW-Form-Urlencoded", "application/x-www-form-urlencoded", true},
               {"application/x-www-form-urlencoded; charset=utf-8", "application/x-www-form-urlencoded", false},
               {"", "", true}, {"a", "ab", false}, {"ab", "ac", false}, {"[", "{", false}, {"@", "`", false}, {"HOST", "host", true},
               {"\xC9", "\xE9", false}};  // 'Z' + 1 and 'z' + 1 are not letters; only ASCII letters fold
  for (const auto& [a, b, equal] : cases) EXPECT_EQ(equals_ignore_case(a, b), equal) << '"' << a << "\" vs \"" << b << '"';
}

}  // namespace
}  // namespace ombrix
