#include "host/embedded/item_codec.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "host/text.h"

namespace ombrix {
namespace {

// Names are stored as the bytes to_utf8 writes, come back unchanged, and measure as many bytes.
TEST(ItemCodecNames, EncodeAsUtf8BytesDecodeBackAndMeasure) {
  const std::vector<std::pair<text, std::string>> cases = {
      {u"", ""}, {u"A\xF8FD" u"B\xF8FC" u"C", "A\xEF\xA3\xBD" "B\xEF\xA3\xBC" "C"}, {text(1, u'\0'), std::string(1, '\0')},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"}, {text(1, char16_t(0xD800)), "\xED\xA0\x80"},  // a pair is one 4-byte character, a lone half three
      {text{char16_t(0xDE00), char16_t(0xD83D)}, "\xED\xB8\x80\xED\xA0\xBD"},  // a reversed pair
  };
  for (const auto& [name, bytes] : cases) {
    EXPECT_EQ(encode_name(name), bytes);
    EXPECT_EQ(to_utf8(name), bytes) << "agrees with the server's own conversion";
    EXPECT_EQ(decode_name(bytes), name);
    EXPECT_EQ(utf8_size(name), static_cast<std::int64_t>(bytes.size()));
  }
  // Damaged bytes decode to replacement characters.
  EXPECT_EQ(decode_name("A\xFF" "B"), u"A\xFFFD" u"B");
  EXPECT_EQ(decode_name("\xF4\x90\x80\x80"), u"\xFFFD");  // above U+10FFFF
}

TEST(ItemCodecContent, AnyUnitSequenceRoundTrips) {
  text every_unit;
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) every_unit.push_back(char16_t(unit));
  for (const text& content : {text(), text(3, u'\0'), every_unit}) {
    const std::string stored = encode_content(content);
    EXPECT_EQ(stored.size(), content.size() * 2);
    EXPECT_EQ(decode_content(stored), content);
    std::string scratch;  // the uncopied view the item writes bind holds the same bytes
    EXPECT_EQ(content_bytes(content, scratch), stored);
  }
  EXPECT_EQ(encode_content(u"A\xF8FD"), std::string("A\0\xFD\xF8", 4)) << "low byte first";
  EXPECT_EQ(decode_content(std::string("A\0B", 3)), u"A") << "a stray last byte is ignored";
}

// Host names (files, sections, ids) and the stricter names of new files.
TEST(ItemCodecNames, NameRules) {
  struct row {
    text name;
    bool host_name;
    bool new_file_name;
  };
  const std::vector<row> rows = {
      {u"C1", true, true},          {u"DICT CUST", true, false},   {u"CUST,HIST", true, false},
      {u"a b", true, true},         {text(1, u'\0'), true, false}, {u"", false, false},
      {u"A\rB", false, false},      {u"A\nB", false, false},       {u"A\xF8FD", false, false},
      {u"\xF8FB", false, false},    {u"\xF8FF", false, false},    {u"\xF8FA", true, true},
      {u"\u00C9T\u00C9", true, true},
      {text(255, u'F'), true, true},  {text(256, u'F'), true, false},
      {u"A/B", true, false},        {u"A*B", true, false},         {u"A\tB", true, false},
  };
  for (const row& r : rows) {
    EXPECT_EQ(is_valid_host_name(r.name), r.host_name) << to_utf8(r.name);
    EXPECT_EQ(is_valid_new_file_name(r.name), r.new_file_name) << to_utf8(r.name);
  }
}

}  // namespace
}  // namespace ombrix
