#include "http/query_string.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "tests/http/http_test_support.h"

namespace ombrix {
namespace {

using test::debug_level_guard;

using namespace std::string_literals;

TEST(QueryString, AppendsTheExpectedLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"a=1&b=2", "QS_A=1\r\nQS_B=2\r\n"},
      {"name=John+Smith&city=New%20York", "QS_NAME=John Smith\r\nQS_CITY=New York\r\n"},
      {"x", "QS_X=\r\n"}, {"x=", "QS_X=\r\n"}, {"=5", "QS_=5=\r\n"}, {"==5", "QS_==5\r\n"},
      {"=", "QS_==\r\n"}, {"a=1=2", "QS_A=1=2\r\n"}, {"%20a%20=v", "QS_A=v\r\n"},
      {"a= v ", "QS_A= v \r\n"}, {"&&a=1&", "QS_A=1\r\n"}, {"+=1&b=2", "QS_B=2\r\n"},
      {"a=%41%42", "QS_A=AB\r\n"}, {"a=%4", "QS_A=\x04\r\n"}, {"a=%", "QS_A=\0\r\n"s},
      {"a=%2z", "QS_A=\x02\r\n"}, {"a=%FFF", "QS_A=\xFF" "F\r\n"},
      {"a=1&a=2", "QS_A=1\r\nQS_A=2\r\n"}, {"a=1;b=2", "QS_A=1;b=2\r\n"}, {"", ""},
      {"MiXeD=CaSe", "QS_MIXED=CaSe\r\n"}, {"%61b=1", "QS_AB=1\r\n"}, {"a+b=c+d", "QS_A B=c d\r\n"},
      {"a=%26%3D", "QS_A=&=\r\n"}, {"a%0D=1", "QS_A=1\r\n"}, {"%20=%0D%0A&b=2", "QS_B=2\r\n"},
      {"a=%-1", "QS_A=\xFF\r\n"}, {"a=% 5", "QS_A=\x05\r\n"}, {"a=%0x", "QS_A=\0\r\n"s},
      {"a=%C3%A9", "QS_A=\xC3\xA9\r\n"},
  };
  for (const auto& [query, lines] : cases) {
    std::string environment = "REQUEST_METHOD=GET\r\n";
    EXPECT_TRUE(parse_query_string(query, environment)) << query;
    EXPECT_EQ(environment, "REQUEST_METHOD=GET\r\n" + lines) << query;
  }
}

// A malformed escape throws, a line break is refused; either way the environment is unchanged.
TEST(QueryString, RefusalLeavesTheEnvironmentUnchanged) {
  const std::pair<std::string, bool> cases[] = {  // query, throws (else refused for a line break)
      {"a=%zz", true}, {"%zz=1", true}, {"a=1&b=%zz", true}, {"a=% ", true}, {"a=%-", true},
      {"a=%%41", true}, {"%20=%zz", true}, {"a=1&b=x%0D%0AQS_ADMIN=1", false}, {"a=x%0Ay", false},
      {"a=%0d", false}, {"a%0Ab=1", false},
  };
  for (const auto& [query, throws] : cases) {
    SCOPED_TRACE(query);
    std::string environment = "PATH_INFO=/\r\n";
    if (throws) {
      try {
        (void)parse_query_string(query, environment);
        ADD_FAILURE() << "no exception";
      } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "hex to char failure");
      }
    } else {
      EXPECT_FALSE(parse_query_string(query, environment));
    }
    EXPECT_EQ(environment, "PATH_INFO=/\r\n");
  }
}

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
