#include "json/json_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "host/text.h"
#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

TEST(JsonWriterTest, InsertsSeparatorsByState) {
  using i64 = std::numeric_limits<std::int64_t>;
  const std::pair<std::function<void(json_writer&)>, std::string> cases[] = {
      {[](json_writer& w) { w.begin_object(); w.dynamic_key("a\"b\tc"); w.integer(std::int64_t{-5}); w.key("b");
                            w.string("say \"hi\""); w.end_object(); },
       R"({"a\"b\tc":-5,"b":"say \"hi\""})"},
      {[](json_writer& w) { w.begin_object(); w.key("o"); w.begin_object(); w.key("p"); w.begin_array();
                            w.string("x"); w.integer(std::int64_t{1}); w.begin_array(); w.string(""); w.end_array();
                            w.end_array(); w.end_object(); w.key("q"); w.string("y"); w.end_object(); },
       R"({"o":{"p":["x",1,[""]]},"q":"y"})"},
      {[](json_writer& w) { w.begin_array(); w.integer(i64::min()); w.integer(i64::max()); w.integer(std::int32_t{-1});
                            w.end_array(); }, "[-9223372036854775808,9223372036854775807,-1]"},
      {[](json_writer& w) { w.begin_object(); w.dynamic_key(std::string_view("k\0y", 3)); w.string("abc", 2);
                            w.end_object(); }, R"({"k\u0000y":"ab"})"},
      // After release no separator is owed: the next value starts cleanly.
      {[](json_writer& w) { w.begin_array(); w.string("a"); w.release(); w.begin_array(); w.end_array(); }, "[]"},
  };
  for (const auto& [build, expected] : cases) {
    json_writer w;
    build(w);
    EXPECT_EQ(w.text(), expected);
    EXPECT_EQ(w.view(), expected);
  }
}

// Plain bytes are skipped sixteen and eight at a time: escapes land mid-run and at a run's end
// at offsets within and across those groups.
TEST(JsonWriterTest, EscapesEachByteAsTheTableSays) {
  for (int byte = 0; byte < 256; ++byte) {
    json_writer w;
    w.string(std::string(1, static_cast<char>(byte)));
    EXPECT_EQ(w.text(), test::json_quote(std::string(1, static_cast<char>(byte)))) << "byte " << byte;
  }
  const std::pair<std::string, std::string> cases[] = {
      {"a\x1A" "b\x7F" "c\"d\\e\n", R"(a\u001Ab\u007Fc\"d\\e\n)"},
      {"abcdefghijklmno\x1F" "p", R"(abcdefghijklmno\u001Fp)"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\x7F", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\\u007F"},
  };
  for (const auto& [input, expected] : cases) {
    for (const std::size_t pad : {0, 7, 8, 15, 16, 17, 31}) {
      SCOPED_TRACE(std::to_string(pad) + ": " + expected);
      const std::string before(pad, 'p'), after(pad % 5, 'q');
      json_writer w;
      w.string(before + input + after);
      EXPECT_EQ(w.text(), "\"" + before + expected + after + "\"");
    }
  }
}

// Printable ASCII is narrowed eight units at a time: every unit that ends such a run (and the
// edges of the printable range, which do not) at every offset within and across the groups,
// written as the UTF-8 of the same text is; both overloads write the same bytes.
TEST(JsonWriterTest, WritesSixteenBitTextAsEscapedUtf8) {
  const std::u16string units_to_place[] = {u" ", u"~", u"\x1F", std::u16string(1, u'\0'), u"\x7F", u"\x80", u"\"",
                                           u"\\", u"\x00E9", u"\x4E2D", u"\xF8FD", u"\xD83D\xDE00", u"\xDC00"};
  for (const std::u16string& unit : units_to_place) {
    for (std::size_t offset = 0; offset <= 17; ++offset) {
      SCOPED_TRACE(to_utf8(unit) + " at " + std::to_string(offset));
      const std::u16string units = std::u16string(offset, u'a') + unit + std::u16string(9, u'b');
      json_writer direct, converted;
      direct.string_utf16(units);
      direct.string_utf16(units.data(), units.data() + units.size());
      converted.string(to_utf8(units));
      converted.string(to_utf8(units));
      EXPECT_EQ(direct.text(), converted.text());
    }
  }
}

// Digits that are already a number's text are copied; anything else is left to integer().
TEST(JsonWriterTest, IntegerTextTakesOnlyTheTextIntegerWouldWrite) {
  const std::pair<std::u16string, bool> cases[] = {
      {u"0", true}, {u"24", true}, {u"123456789012345678", true}, {u"1234567890123456789", false}, {u"", false},
      {u"00", false}, {u"1a", false}, {u"\xFF11", false}};
  for (const auto& [digits, taken] : cases) {
    SCOPED_TRACE(to_utf8(digits));
    json_writer w;
    w.begin_array();
    w.integer(1);
    EXPECT_EQ(w.integer_text(digits), taken);
    w.end_array();
    EXPECT_EQ(w.text(), taken ? "[1," + to_utf8(digits) + "]" : std::string("[1]"));
  }
}

}  // namespace
}  // namespace ombrix
