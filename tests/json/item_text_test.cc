#include "json/item_text.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

const std::u16string vm(1, value_mark), sm(1, subvalue_mark), crlf = u"\r\n";
using test::hex_units;

std::string to_json(std::u16string_view item, std::size_t start = 0) {
  json_writer w;
  item_to_json(w, item, start);
  return w.text();
}
json_tokenizer tokenizer_of(const std::string& json) {
  json_tokenizer t;
  t.init(json.data(), static_cast<std::uint32_t>(json.size()));
  return t;
}

TEST(ItemToJsonTest, WritesOneArrayPerItem) {
  const struct { std::u16string item; std::size_t start; std::string json; } cases[] = {
      {u"", 0, R"([""])"},
      {u"a" + crlf, 0, R"(["a"])"},  // a trailing CR LF adds nothing
      {u"a" + sm + u"b" + vm + u"c" + sm + u"d" + crlf + crlf + u"e", 0, R"([[["a","b"],["c","d"]],"","e"])"},
      {u"a" + vm + sm + u"b", 0, R"([["a",["","b"]]])"},
      {u"a\rb\nc\r", 0, R"(["a\rb\nc\r"])"},  // lone CR and LF are data
      {u"skip" + crlf + u"a" + vm + u"b", 6, R"([["a","b"]])"},
      {u"Caf\x00E9\"\xD83D\xDE00" + vm + u"\t", 0, "[[\"Caf\xC3\xA9\\\"\xF0\x9F\x98\x80\",\"\\t\"]]"},
  };
  for (const auto& c : cases) EXPECT_EQ(to_json(c.item, c.start), c.json) << hex_units(c.item);
}

// The scan skips 32 and eight units at a time: every mark, and every unit that only resembles
// one, is found or passed over at each place within and across those groups.
TEST(ItemToJsonTest, MarksAreFoundAtEveryOffsetOfTheFastScan) {
  const std::pair<std::u16string, const char*> marks[] = {  // the unit and the JSON it becomes
      {vm, "\",\""}, {sm, "\",\""}, {crlf, "\",\""}, {u"\r", "\\r"}, {u"\xF8FE", "\xEF\xA3\xBE"},
      {u"\xF8FB", "\xEF\xA3\xBB"}, {u"\x00F8", "\xC3\xB8"}, {u"\x0D0D", "\xE0\xB4\x8D"}, {u"\xFD0D", "\xEF\xB4\x8D"}};
  constexpr std::size_t around = 71;  // units besides the one placed: past two groups of 32
  for (const auto& [unit, middle] : marks) {
    const std::size_t depth = unit == sm ? 3 : unit == vm ? 2 : 1;
    for (std::size_t at = 0; at < around; ++at) {
      EXPECT_EQ(to_json(std::u16string(at, u'a') + unit + std::u16string(around - at, u'b')),
                std::string(depth, '[') + '"' + std::string(at, 'a') + middle + std::string(around - at, 'b') +
                    '"' + std::string(depth, ']')) << hex_units(unit) << " at " << at;
    }
  }
  // Long pieces are encoded in windows of units; a pair or a CR LF on a window's edge stays whole.
  for (std::size_t offset = 4085; offset < 4100; ++offset) {
    const std::u16string before(offset, u'a');
    const std::string a(offset, 'a');
    EXPECT_EQ(to_json(before + u"\xD83D\xDE00" + before), "[\"" + a + "\xF0\x9F\x98\x80" + a + "\"]") << offset;
    EXPECT_EQ(to_json(before + crlf + u"b\r"), "[\"" + a + "\",\"b\\r\"]") << offset;
  }
}

// The JSON of `item` written in the pieces that `cuts` (ascending unit offsets) makes, after a
// member so that separators count; through `out` when `moved`.
std::string json_in_pieces(std::u16string_view item, const std::vector<std::size_t>& cuts, bool moved) {
  json_writer w;
  std::string out = "prefix|";
  w.begin_object();
  w.key("data");
  {
    item_json_pieces pieces(w, moved ? &out : nullptr);
    std::size_t from = 0;
    for (const std::size_t cut : cuts) {
      pieces.add(item.substr(from, cut - from));
      from = cut;
    }
    pieces.add(item.substr(from));
    pieces.finish();
  }
  w.end_object();
  if (!moved) return w.text();
  w.move_to(out);
  return out.substr(0, 7) == "prefix|" ? out.substr(7) : "lost the prefix";
}

// Pieces may split a text anywhere (inside CR LF and pairs, around marks, inside strings a later
// mark puts deeper): directly or moved on after each piece, the bytes are those of the whole text.
TEST(ItemJsonPiecesTest, EverySplitGivesTheBytesOfTheWholeText) {
  const std::vector<std::u16string> items = {
      u"abc" + sm + u"de" + vm + u"fg" + sm + u"h" + crlf + u"ij", u"a" + vm + sm + u"b" + vm + crlf,
      u"x\ry\r\r" + crlf + u"\r", u"\xD83D\xDE00" + vm + u"\xD800" + crlf + u"\xDC00\xD83D",
      std::u16string(37, u'p') + sm + std::u16string(45, u'r') + crlf + std::u16string(9, u's')};
  for (const std::u16string& item : items) {
    SCOPED_TRACE(hex_units(item));
    const std::string whole = "{\"data\":" + to_json(item) + "}";
    std::vector<std::size_t> every;
    for (std::size_t cut = 0; cut <= item.size(); ++cut) {
      EXPECT_EQ(json_in_pieces(item, {cut}, false), whole) << cut;
      EXPECT_EQ(json_in_pieces(item, {cut, cut}, true), whole) << cut;  // an empty piece between
      if (cut > 0) every.push_back(cut);
    }
    EXPECT_EQ(json_in_pieces(item, every, true), whole);
  }
  // A string kept open far longer than one piece, its start long moved on, still gets its arrays.
  const std::u16string item = u"h" + crlf + std::u16string(100000, u'z') + sm + u"t";
  EXPECT_EQ(json_in_pieces(item, {1000, 33768, 66536}, true), "{\"data\":" + to_json(item) + "}");
}

TEST(JsonToItemTest, BuildsTheItemTextOrRefusesAndLeavesIt) {
  const std::u16string keep = u"unchanged";
  const struct { std::string json; bool ok; std::u16string item; } cases[] = {
      {R"([[["a","b"],["c","d"]],"",["e"]])", true, u"a" + sm + u"b" + vm + u"c" + sm + u"d" + crlf + crlf + u"e"},
      {R"([])", true, u""},
      {R"(["a",] trailing text is not read)", true, u"a"},
      {"[\"\\u00e9\\uD83D\\uDE00\\n\"]", true, u"\x00E9\xD83D\xDE00\n"},
      {R"([[[["x"]]]])", false, keep},
      {R"({"a":1})", false, keep},
      {R"(["a")", false, keep},
      // Regression: values item text cannot hold were skipped, shifting the attributes after them.
      {R"(["A",42,true,null,"B"])", false, keep},
      {R"([[["a",{"k":"v"}]]])", false, keep},
  };
  for (const auto& c : cases) {
    json_tokenizer t = tokenizer_of(c.json);
    text item = keep;
    EXPECT_EQ(json_to_item(t, item), c.ok) << c.json;
    EXPECT_EQ(hex_units(item), hex_units(c.item)) << c.json;
  }
  const std::string invalid_utf8 = "[\"ok\",\"bad \xC3\"]";  // the tokenizer reads it in place
  json_tokenizer t = tokenizer_of(invalid_utf8);
  text item = u"before";
  EXPECT_THROW(json_to_item(t, item), std::range_error);
  EXPECT_EQ(item, u"before");
}

// Measured and then handed on in pieces, an array gives exactly the text json_to_item builds;
// what json_to_item refuses or throws on, measuring does too.
TEST(JsonItemPiecesTest, PiecesMakeTheTextJsonToItemBuilds) {
  const std::string arrays[] = {R"(["NAME",["ADDR1","ADDR2"],[["s1","s2"],"v2"],"","last"])",
      "[\"" + std::string(300, 'w') + "\xF0\x9F\x98\x80" + std::string(301, 'v') + "\",\"\\ud83d\\ude00\\t\"]"};
  for (const std::string& array : arrays) {
    json_tokenizer whole = tokenizer_of(array);
    text expected;
    ASSERT_TRUE(json_to_item(whole, expected)) << array;
    for (const std::size_t piece_units : {4, 64}) {
      SCOPED_TRACE(array + " in pieces of " + std::to_string(piece_units));
      json_tokenizer t = tokenizer_of(array);
      std::size_t units = 0;
      ASSERT_TRUE(measure_json_item(t, units));
      EXPECT_EQ(units, expected.size());
      t = tokenizer_of(array);
      text joined;
      json_item_pieces(t, piece_units, [&](std::u16string_view piece) {
        EXPECT_LE(piece.size(), 2 * piece_units);
        joined.append(piece);
      });
      EXPECT_TRUE(joined == expected) << hex_units(joined);
    }
  }
  for (const std::string refused : {R"([[[["x"]]]])", R"(["a",1])"}) {
    json_tokenizer t = tokenizer_of(refused);
    std::size_t units = 0;
    EXPECT_FALSE(measure_json_item(t, units)) << refused;
  }
  // Malformed UTF-8 far into a long string, where the conversion works in chunks.
  const std::string bad = "[\"" + std::string(200000, 'x') + "\xC3(\"]";
  json_tokenizer t = tokenizer_of(bad);
  std::size_t units = 0;
  EXPECT_THROW(measure_json_item(t, units), std::range_error);
}

}  // namespace
}  // namespace ombrix
