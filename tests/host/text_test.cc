#include "host/text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "platform/code_page.h"
#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

using test::hex_units;

struct decode_case {
  const char* name;
  std::string utf8;
  std::u16string units;  // what the bytes decode to
};

TEST(FromUtf8Test, DecodesEachFormToTheExpectedUnits) {
  const std::vector<decode_case> cases = {
      {"empty", "", u""},
      {"two-byte e-acute", "\xC3\xA9", u"\x00E9"},
      {"three-byte euro", "\xE2\x82\xAC", u"\x20AC"},
      {"byte-order mark kept as a character", "\xEF\xBB\xBF" "a", u"\xFEFF" "a"},
      {"overlong two-byte NUL", std::string("\xC0\x80", 2), std::u16string(1, u'\0')},
      {"overlong three-byte NUL", std::string("\xE0\x80\x80", 3), std::u16string(1, u'\0')},
      {"overlong five-byte NUL", std::string("\xF8\x80\x80\x80\x80", 5), std::u16string(1, u'\0')},
      {"overlong six-byte NUL", std::string("\xFC\x80\x80\x80\x80\x80", 6), std::u16string(1, u'\0')},
      {"encoded high surrogate decoded as a unit", "\xED\xA0\x80", u"\xD800"},
      {"four-byte emoji to a pair", "\xF0\x9F\x98\x80", u"\xD83D\xDE00"},
      {"last code point", "\xF4\x8F\xBF\xBF", u"\xDBFF\xDFFF"},
      {"embedded NUL", std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
      {"non-ASCII after an ASCII block", "abcdefgh\xC3\xA9ijklmnopq", u"abcdefgh\x00E9ijklmnopq"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hex_units(from_utf8(c.utf8)), hex_units(c.units));
  }
}

TEST(FromUtf8Test, RefusesMalformedInputWithBadConversion) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"lone continuation byte", "\x80"}, {"text ending in a lead byte", "ab\xC3"},
      {"three-byte sequence cut off", "\xE2\x82"}, {"above the last code point", "\xF4\x90\x80\x80"},
      {"five-byte form above the last code point", "\xF8\x88\x80\x80\x80"}, {"six-byte form above the last code point", "\xFD\xBF\xBF\xBF\xBF\xBF"},
      {"0xFF with too few continuations", "\xFF\x80"},
  };
  for (const auto& [name, utf8] : cases) {
    SCOPED_TRACE(name);
    try {
      (void)from_utf8(utf8);
      ADD_FAILURE() << "no exception";
    } catch (const std::range_error& e) {
      EXPECT_STREQ(e.what(), "bad conversion");
    }
  }
}

TEST(ToUtf8Test, EncodesEachUnitToTheExpectedBytes) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"", ""}, {std::u16string(1, u'\0'), std::string(1, '\0')}, {u"\x7F", "\x7F"},
      {u"\x0080", "\xC2\x80"}, {u"\x0800", "\xE0\xA0\x80"}, {u"\xFFFF", "\xEF\xBF\xBF"},
      {u"\xD83D\xDE00", "\xF0\x9F\x98\x80"}, {u"\xD800", "\xED\xA0\x80"}, {u"\xDE00\xD83D", "\xED\xB8\x80\xED\xA0\xBD"},
      {u"\xD83D\xD83D\xDE00", "\xED\xA0\xBD\xF0\x9F\x98\x80"},
  };
  for (const auto& [units, utf8] : cases) {
    SCOPED_TRACE(hex_units(units));
    EXPECT_EQ(to_utf8(units), utf8);
    EXPECT_EQ(to_utf8(units.data(), units.data() + units.size()), utf8);
    EXPECT_EQ(hex_units(from_utf8(utf8)), hex_units(units)) << "and back";
  }
}

// The encoder takes ASCII eight and four units at a time: a unit that needs more bytes, and a
// stop before a mark, are handled at every offset within and across those groups.
TEST(ToUtf8Test, EveryUnitKindAtEveryOffsetOfTheFastPath) {
  const std::tuple<char16_t, const char*, bool> units[] = {  // unit, bytes, stops at a mark
      {u'\x7F', "\x7F", false}, {u'\x80', "\xC2\x80", false}, {u'\x00E9', "\xC3\xA9", false}, {u'\x0100', "\xC4\x80", false},
      {u'\x0D0D', "\xE0\xB4\x8D", false}, {u'\r', "\r", true}, {u'\xF8FD', "\xEF\xA3\xBD", true}, {u'\xF8FC', "\xEF\xA3\xBC", true},
  };
  for (const auto& [unit, bytes, stops_at_mark] : units) {
    for (std::size_t at = 0; at <= 17; ++at) {
      SCOPED_TRACE(std::to_string(unit) + " at " + std::to_string(at));
      const text in = text(at, u'a') + unit + text(18 - at, u'b');
      std::string expected(at, 'a');
      expected.append(bytes).append(18 - at, 'b');
      EXPECT_EQ(to_utf8(in), expected);
      std::string buffer(3 * in.size(), '\0');
      char* out = buffer.data();
      const char16_t* stop = encode_utf8_to_mark(in.data(), in.data() + in.size(), out);
      EXPECT_EQ(static_cast<std::size_t>(stop - in.data()), stops_at_mark ? at : in.size());
      EXPECT_EQ(std::string(buffer.data(), out), stops_at_mark ? std::string(at, 'a') : expected);
    }
  }
}

TEST(LenientUtf8Test, DecodesUtf8AndReplacesBrokenSequencesAsTheDefaultCodePageDoes) {
  const std::vector<decode_case> cases = {
      {"lone continuation", "a\x80z", u"a\xFFFDz"}, {"lead byte before ASCII", "\xC3\x41", u"\xFFFD\x41"},
      {"above the last code point", "\xF4\x90\x80\x80!", u"\xFFFD!"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hex_units(from_utf8_lenient(c.utf8)), hex_units(c.units));
    // Where the platform's default code page is UTF-8 (POSIX systems), it converts the same way.
    if (platform::default_code_page_is_utf8()) { EXPECT_EQ(hex_units(from_default_codepage(c.utf8)), hex_units(c.units)); }
  }
  if (platform::default_code_page_is_utf8()) { EXPECT_EQ(to_default_codepage(u"Caf\x00E9 \xD83D\xDE00"), "Caf\xC3\xA9 \xF0\x9F\x98\x80"); }
}

}  // namespace
}  // namespace ombrix
