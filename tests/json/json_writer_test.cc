#include "json/json_writer.h"

#include "host/text.h"

#include <gtest/gtest.h>

#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

struct writer_case {
  const char* name;
  std::function<void(json_writer&)> build;
  std::string expected;
};

TEST(JsonWriterTest, InsertsSeparatorsByState) {
  const std::vector<writer_case> cases = {
      {"member with integer and escaped string; keys escape like strings",
       [](json_writer& w) { w.begin_object(); w.dynamic_key("a\"b\tc");
         w.integer(std::int64_t{-5}); w.key("b"); w.string("say \"hi\""); w.end_object(); },
       R"({"a\"b\tc":-5,"b":"say \"hi\""})"},
      {"nested values and members",
       [](json_writer& w) { w.begin_object(); w.key("o"); w.begin_object(); w.key("p");
         w.begin_array(); w.string("x"); w.integer(std::int64_t{1}); w.begin_array();
         w.string(""); w.end_array(); w.end_array(); w.end_object(); w.key("q"); w.string("y");
         w.end_object(); },
       R"({"o":{"p":["x",1,[""]]},"q":"y"})"},
      {"values at the top level are separated too",
       [](json_writer& w) { w.integer(std::int64_t{1}); w.string("s"); w.begin_array();
         w.end_array(); },
       R"(1,"s",[])"},
      {"integer limits and the 32-bit overload",
       [](json_writer& w) { w.begin_array(); w.integer(std::numeric_limits<std::int64_t>::min());
         w.integer(std::numeric_limits<std::int64_t>::max()); w.integer(std::int32_t{-1});
         w.integer(std::numeric_limits<std::int32_t>::min()); w.integer(std::int64_t{0});
         w.end_array(); },
       "[-9223372036854775808,9223372036854775807,-1,-2147483648,0]"},
      {"names of the code and names made at run time write the same bytes",
       [](json_writer& w) { w.begin_object(); w.key("status"); w.integer(1);
         w.dynamic_key("status"); w.integer(2); w.key("caf\xC3\xA9 d'or"); w.begin_array();
         w.end_array(); w.dynamic_key("caf\xC3\xA9 d'or"); w.string(""); w.end_object(); },
       std::string("{\"status\":1,\"status\":2,\"caf\xC3\xA9 d'or\":[],\"caf\xC3\xA9 d'or\":\"\"}")},
      {"NUL-terminated and counted overloads",
       [](json_writer& w) { w.begin_object(); const char* name = "id"; w.dynamic_key(name);
         w.string("abc", 2); w.dynamic_key(std::string_view("k\0y", 3));
         w.string(static_cast<const char*>(nullptr)); w.end_object(); },
       std::string(R"({"id":"ab","k\u0000y":""})")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    json_writer w;
    c.build(w);
    EXPECT_EQ(w.text(), c.expected);
    EXPECT_EQ(w.view(), c.expected);
  }
}

TEST(JsonWriterTest, EscapesEachByteAsTheTableSays) {
  for (int byte = 0; byte < 256; ++byte) {
    const std::string input(1, static_cast<char>(byte));
    json_writer w;
    w.string(input);
    EXPECT_EQ(w.text(), test::json_quote(input)) << "byte " << byte;
  }
  // Longer runs: the escapes land mid-run and at a run's end.
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"a\x1A" "b\x7F" "c\"d\\e\n", R"("a\u001Ab\u007Fc\"d\\e\n")"},
      {"abcdefghijklmno\x1F" "p", R"("abcdefghijklmno\u001Fp")"},
      {"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\x7F", "\"\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9\\u007F\""},
  };
  // Plain bytes are skipped sixteen and eight at a time: each case also at offsets within and
  // across those groups.
  for (const auto& [input, expected] : cases) {
    for (const std::size_t pad : {0, 7, 8, 15, 16, 17, 31}) {
      SCOPED_TRACE(std::to_string(pad) + ": " + expected);
      const std::string before(pad, 'p');
      const std::string after(pad % 5, 'q');
      json_writer w;
      w.string(before + input + after);
      EXPECT_EQ(w.text(), "\"" + before + expected.substr(1, expected.size() - 2) + after + "\"");
    }
  }
}

TEST(JsonWriterTest, WritesSixteenBitTextAsEscapedUtf8) {
  const std::vector<std::pair<std::u16string, std::string>> cases = {
      {u"Caf\x00E9 \xD83D\xDE00", "\"Caf\xC3\xA9 \xF0\x9F\x98\x80\""},
      {u"say \"hi\"\t\x00E9", "\"say \\\"hi\\\"\\t\xC3\xA9\""},
      {std::u16string(u"\0\x7F\x1F", 3), R"("\u0000\u007F\u001F")"},
  };
  for (const auto& [units, expected] : cases) {
    json_writer w;
    w.begin_array();
    w.string_utf16(units);
    w.string_utf16(units.data(), units.data() + units.size());
    w.end_array();
    EXPECT_EQ(w.text(), "[" + expected + "," + expected + "]");
  }
}

// Printable ASCII is narrowed eight units at a time: every unit that ends such a run (and the
// edges of the printable range, which do not) at every offset within and across the groups.
TEST(JsonWriterTest, SixteenBitTextStopsItsAsciiRunsAtEveryUnitThatNeedsMore) {
  const std::u16string units_to_place[] = {
      u" ", u"~", u"\x1F", std::u16string(1, u'\0'), u"\x7F", u"\x80", u"\"", u"\\",
      u"\x00E9", u"\x4E2D", u"\xF8FD", u"\xD83D\xDE00", u"\xDC00"};
  for (const std::u16string& unit : units_to_place) {
    for (std::size_t offset = 0; offset <= 17; ++offset) {
      std::u16string units(offset, u'a');
      units += unit;
      units += std::u16string(9, u'b');
      SCOPED_TRACE(to_utf8(unit) + " at " + std::to_string(offset));
      json_writer direct;
      direct.string_utf16(units);
      json_writer converted;
      converted.string(to_utf8(units));
      EXPECT_EQ(direct.text(), converted.text());
    }
  }
}

// Digits that are already a number's text are copied; anything else is left to integer().
TEST(JsonWriterTest, IntegerTextTakesOnlyTheTextIntegerWouldWrite) {
  struct integer_text_case {
    std::u16string digits;
    bool taken;
  };
  const integer_text_case cases[] = {
      {u"0", true},          {u"7", true},           {u"24", true},
      {u"123456789012345678", true},                 {u"1234567890123456789", false},
      {u"", false},          {u"00", false},         {u"01", false},
      {u"1 ", false},        {u"1a", false},         {u"\xFF11", false},
      {std::u16string(1, u'\0'), false},
  };
  for (const integer_text_case& c : cases) {
    SCOPED_TRACE(to_utf8(c.digits));
    json_writer w;
    w.begin_array();
    w.integer(1);
    EXPECT_EQ(w.integer_text(c.digits), c.taken);
    w.end_array();
    EXPECT_EQ(w.text(), c.taken ? "[1," + to_utf8(c.digits) + "]" : std::string("[1]"));
  }
}

TEST(JsonWriterTest, LongOutputsGrowWithoutLosingBytes) {
  // Mostly escapes, so that the escape-time reservation does the growing.
  std::string input;
  for (int i = 0; i < 50000; ++i) input += (i % 3 == 0) ? '\x01' : 'x';
  json_writer w;
  w.begin_array();
  for (int i = 0; i < 4; ++i) w.string(input);
  w.end_array();
  std::string one = "\"";
  for (int i = 0; i < 50000; ++i) one += (i % 3 == 0) ? "\\u0001" : "x";
  one += '"';
  EXPECT_EQ(w.text(), "[" + one + "," + one + "," + one + "," + one + "]");
}

TEST(JsonWriterTest, ReleaseEmptiesTheWriterAndResetsTheState) {
  json_writer w;
  w.begin_array();
  w.string("a");
  w.release();
  EXPECT_EQ(w.text(), "");
  // After release no separator is owed: the next value starts cleanly.
  w.begin_array();
  w.end_array();
  EXPECT_EQ(w.text(), "[]");
}

}  // namespace
}  // namespace ombrix
