#include "host/embedded/item_codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "host/text.h"

namespace ombrix {
namespace {

struct name_case {
  text name;
  std::string bytes;
};

// Names are stored as the bytes to_utf8 writes, and come back unchanged.
TEST(ItemCodecNames, EncodeAsUtf8BytesAndDecodeBack) {
  const std::vector<name_case> cases = {
      {u"", ""},
      {u"C1", "C1"},
      {u"\u00E9", "\xC3\xA9"},
      {u"\u20AC", "\xE2\x82\xAC"},
      {u"\xF8FD", "\xEF\xA3\xBD"},
      {text(1, u'\0'), std::string(1, '\0')},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"},           // a pair is one 4-byte character
      {text(1, char16_t(0xD800)), "\xED\xA0\x80"},     // lone high surrogate
      {text(1, char16_t(0xDC00)), "\xED\xB0\x80"},     // lone low surrogate
      {text{char16_t(0xDE00), char16_t(0xD83D)}, "\xED\xB8\x80\xED\xA0\xBD"},  // reversed pair
      {text{char16_t(0xD83D), u'A'}, "\xED\xA0\xBD" "A"},
      {u"\xFFFF", "\xEF\xBF\xBF"},
  };
  for (const name_case& c : cases) {
    EXPECT_EQ(encode_name(c.name), c.bytes);
    EXPECT_EQ(to_utf8(c.name), c.bytes) << "agrees with the server's own conversion";
    EXPECT_EQ(decode_name(c.bytes), c.name);
  }
}

TEST(ItemCodecNames, DamagedBytesDecodeToReplacementCharacters) {
  EXPECT_EQ(decode_name("A\xFF" "B"), u"A\xFFFD" u"B");
  EXPECT_EQ(decode_name("\xC3"), u"\xFFFD");
  EXPECT_EQ(decode_name("\x80"), u"\xFFFD");
  EXPECT_EQ(decode_name("\xF4\x90\x80\x80"), u"\xFFFD");  // above U+10FFFF
}

TEST(ItemCodecNames, ByteOrderOfEncodedNamesIsUtf8Order) {
  std::vector<text> names = {u"b", u"\u00E9", u"B", u"10", u"9", u"\xD83D\xDE00", u"\xFFFF", u"a"};
  std::vector<std::string> encoded;
  for (const text& name : names) encoded.push_back(encode_name(name));
  std::sort(encoded.begin(), encoded.end());
  std::vector<text> decoded;
  for (const std::string& bytes : encoded) decoded.push_back(decode_name(bytes));
  EXPECT_EQ(decoded, (std::vector<text>{u"10", u"9", u"B", u"a", u"b", u"\u00E9", u"\xFFFF",
                                        u"\xD83D\xDE00"}));
}

TEST(ItemCodecContent, AnyUnitSequenceRoundTrips) {
  text every_unit;
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) every_unit.push_back(char16_t(unit));
  const std::vector<text> contents = {u"", u"A\r\nB", text(3, u'\0'), u"\r", u"\n",
                                      text(1, char16_t(0xDBFF)), every_unit};
  for (const text& content : contents) {
    const std::string stored = encode_content(content);
    EXPECT_EQ(stored.size(), content.size() * 2);
    EXPECT_EQ(decode_content(stored), content);
  }
  EXPECT_EQ(encode_content(u"A\xF8FD"), std::string("A\0\xFD\xF8", 4)) << "low byte first";
  EXPECT_EQ(decode_content(std::string("A\0B", 3)), u"A") << "a stray last byte is ignored";
}

TEST(ItemCodecContent, SizeIsTheLengthOfTheUtf8Text) {
  const std::vector<std::pair<text, std::int64_t>> cases = {
      {u"", 0},
      {u"A\r\nB", 4},
      {text(1, u'\0'), 1},
      {u"\u00E9", 2},
      {u"\u20AC", 3},
      {u"A\xF8FD" u"B\xF8FC" u"C", 9},
      {u"\xD83D\xDE00", 4},
      {text(1, char16_t(0xD800)), 3},
      {text{char16_t(0xDE00), char16_t(0xD83D)}, 6},
  };
  for (const auto& [content, size] : cases) {
    EXPECT_EQ(utf8_size(content), size);
    EXPECT_EQ(utf8_size(content), static_cast<std::int64_t>(to_utf8(content).size()));
  }
}

TEST(ItemCodecNames, HostNameRules) {
  const std::vector<std::pair<text, bool>> cases = {
      {u"C1", true},         {u"DICT CUST", true},  {u"CUST,HIST", true},
      {u"a b", true},        {text(1, u'\0'), true}, {u"", false},
      {u"A\rB", false},      {u"A\nB", false},       {u"A\xF8FD", false},
      {u"\xF8FC", false},    {u"\xF8FE", false},     {u"\xF8FB", false},
      {u"\xF8FF", false},    {u"\xF8FA", true},
  };
  for (const auto& [name, valid] : cases) {
    EXPECT_EQ(is_valid_host_name(name), valid) << to_utf8(name);
  }
}

TEST(ItemCodecNames, NewFileNameRules) {
  const std::vector<std::pair<text, bool>> cases = {
      {u"CUST", true},        {u"MD", true},          {u"Order.Lines-2", true},
      {u"\u00C9T\u00C9", true}, {text(255, u'F'), true}, {text(256, u'F'), false},
      {u"", false},           {u"A,B", false},        {u"A/B", false},
      {u"A*B", false},        {u"DICT X", false},     {u"A\tB", false},
      {u"A\xF8FD", false},    {u"A\rB", false},
  };
  for (const auto& [name, valid] : cases) {
    EXPECT_EQ(is_valid_new_file_name(name), valid) << to_utf8(name);
  }
}

}  // namespace
}  // namespace ombrix
