#include "json/item_text.h"

#include <gtest/gtest.h>

#include <random>
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
      {u"a" + crlf + crlf + u"b", 0, R"(["a","","b"])"},
      {u"a" + sm + u"b" + vm + u"c" + sm + u"d" + crlf + u"e", 0, R"([[["a","b"],["c","d"]],"e"])"},
      {u"a" + vm + sm + u"b", 0, R"([["a",["","b"]]])"},
      {u"a" + vm + crlf + u"b", 0, R"([["a",""],"b"])"},
      {u"a\rb\nc\r", 0, R"(["a\rb\nc\r"])"},  // lone CR and LF are data
      {u"skip" + crlf + u"a" + vm + u"b", 6, R"([["a","b"]])"},
      {u"abc", 9, R"([""])"},
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
      SCOPED_TRACE(hex_units(unit) + " at " + std::to_string(at));
      EXPECT_EQ(to_json(std::u16string(at, u'a') + unit + std::u16string(around - at, u'b')),
                std::string(depth, '[') + '"' + std::string(at, 'a') + middle + std::string(around - at, 'b') +
                    '"' + std::string(depth, ']'));
    }
  }
}

// Long pieces are encoded in windows of units; a pair or a CR LF on a window's edge must not
// be split.
TEST(ItemToJsonTest, LongPiecesKeepPairsAndLineEndsWhole) {
  for (std::size_t offset = 4085; offset < 4100; ++offset) {
    const std::u16string before(offset, u'a');
    const std::string a(offset, 'a');
    EXPECT_EQ(to_json(before + u"\xD83D\xDE00" + before), "[\"" + a + "\xF0\x9F\x98\x80" + a + "\"]") << offset;
    EXPECT_EQ(to_json(before + crlf + u"b\r"), "[\"" + a + "\",\"b\\r\"]") << offset;
  }
  const std::u16string big(20000, u'\x4E2D');
  EXPECT_EQ(to_json(big + vm + u"x"), "[[\"" + to_utf8(big) + "\",\"x\"]]");
}

// The JSON of `item` written in the pieces that `cuts` (ascending unit offsets) makes, preceded
// by a member so that separators count; through `out` when `moved`.
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
  EXPECT_EQ(out.substr(0, 7), "prefix|");
  return out.substr(7);
}

// Pieces may split a text anywhere: at every cut, into two and into single units, directly and
// moved on into a text after each piece, the bytes are those of the whole text. Cuts fall
// inside CR LF and surrogate pairs, before and after marks, and inside strings that a later
// mark puts one or two arrays deep.
TEST(ItemJsonPiecesTest, EverySplitGivesTheBytesOfTheWholeText) {
  const std::vector<std::u16string> items = {
      u"", u"a" + crlf, crlf + crlf, u"abc" + sm + u"de" + vm + u"fg" + sm + u"h" + crlf + u"ij",
      u"a" + vm + sm + u"b" + vm, u"x\ry\r\r" + crlf + u"\r", u"\xD83D\xDE00" + vm + u"\xD800" + crlf + u"\xDC00\xD83D",
      u"\xD800\xDC00\xDBFF\xDFFF", u"q\"\\\t" + sm + std::u16string(40, u'w') + vm + u"\x00E9\x4E2D",
      std::u16string(37, u'p') + sm + std::u16string(45, u'r') + crlf + std::u16string(9, u's')};
  for (const std::u16string& item : items) {
    SCOPED_TRACE(hex_units(item));
    const std::string whole = "{\"data\":" + to_json(item) + "}";
    std::vector<std::size_t> every;
    for (std::size_t cut = 0; cut <= item.size(); ++cut) {
      SCOPED_TRACE(cut);
      EXPECT_EQ(json_in_pieces(item, {cut}, false), whole);
      EXPECT_EQ(json_in_pieces(item, {cut, cut}, true), whole);  // an empty piece between
      if (cut > 0) every.push_back(cut);
    }
    EXPECT_EQ(json_in_pieces(item, every, false), whole);
    EXPECT_EQ(json_in_pieces(item, every, true), whole);
  }
  // A string that pieces keep open gets the arrays its ending mark calls for inserted before
  // it, also when it is far longer than one piece and its start has long been moved on.
  for (const std::u16string& end : {sm + u"t", vm + u"t", crlf + u"t", std::u16string()}) {
    const std::u16string item = u"h" + crlf + std::u16string(100000, u'z') + end;
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 1000; cut < item.size(); cut += 32768) cuts.push_back(cut);
    EXPECT_EQ(json_in_pieces(item, cuts, true), "{\"data\":" + to_json(item) + "}") << hex_units(end);
  }
}

TEST(JsonToItemTest, BuildsTheItemTextOrRefusesAndLeavesIt) {
  const std::u16string keep = u"unchanged";
  const struct { std::string json; bool ok; std::u16string item; } cases[] = {
      {R"(["a","",["b"]])", true, u"a" + crlf + crlf + u"b"},
      {R"([[["a","b"],["c","d"]],"e"])", true, u"a" + sm + u"b" + vm + u"c" + sm + u"d" + crlf + u"e"},
      {R"([])", true, u""},
      {R"(["a",])", true, u"a"},
      {R"(["a"] trailing text is not read)", true, u"a"},
      {"[\"\\u00e9\\uD83D\\uDE00\\n\"]", true, u"\x00E9\xD83D\xDE00\n"},
      {R"([[[["x"]]]])", false, keep},
      {R"({"a":1})", false, keep},
      {"", false, keep},
      {R"(["a")", false, keep},
      {R"(["a" "b"])", false, keep},
      // Regression: values that item text cannot hold used to be skipped, shifting the
      // attributes after them.
      {R"(["A",42,true,null,"B"])", false, keep},
      {R"(["a",{"k":"v"},"b"])", false, keep},
      {R"([[["a",null]]])", false, keep},
  };
  for (const auto& c : cases) {
    json_tokenizer t = tokenizer_of(c.json);
    text item = keep;
    EXPECT_EQ(json_to_item(t, item), c.ok) << c.json;
    EXPECT_EQ(hex_units(item), hex_units(c.item)) << c.json;
  }
  const std::string bad_utf8 = "[\"ok\",\"bad \xC3\"]";
  json_tokenizer t = tokenizer_of(bad_utf8);
  text item = u"before";
  EXPECT_THROW(json_to_item(t, item), std::range_error);
  EXPECT_EQ(item, u"before");
}

// Measured and then handed on in pieces of any size, an array gives exactly the text that
// json_to_item builds; what json_to_item refuses or throws on, measuring does too.
TEST(JsonItemPiecesTest, PiecesMakeTheTextJsonToItemBuilds) {
  const std::string arrays[] = {
      R"([])", R"(["NAME",["ADDR1","ADDR2"],[["s1","s2"],"v2"],"","last"])",
      "[\"Gr\xC3\xBC\xC3\x9F" "e\xF0\x9F\x98\x80x\",[\"\xE6\x97\xA5\xF0\x9F\x91\x8D\"],\"\\ud83d\\ude00\\t\"]",
      "[\"" + std::string(300, 'w') + "\xF0\x9F\x98\x80" + std::string(301, 'v') + "\"]"};
  for (const std::string& array : arrays) {
    json_tokenizer whole = tokenizer_of(array);
    text expected;
    ASSERT_TRUE(json_to_item(whole, expected)) << array;
    for (const std::size_t piece_units : {4, 5, 64}) {
      SCOPED_TRACE(array + " in pieces of " + std::to_string(piece_units));
      json_tokenizer t = tokenizer_of(array);
      std::size_t units = 0;
      ASSERT_TRUE(measure_json_item(t, units));
      EXPECT_EQ(units, expected.size());
      t = tokenizer_of(array);
      text joined;
      std::vector<std::size_t> sizes;
      json_item_pieces(t, piece_units, [&](std::u16string_view piece) {
        joined.append(piece);
        sizes.push_back(piece.size());
      });
      EXPECT_TRUE(joined == expected) << hex_units(joined);
      for (std::size_t i = 0; i < sizes.size(); ++i) {
        EXPECT_LE(sizes[i], 2 * piece_units);
        if (i + 1 < sizes.size()) {
          EXPECT_GE(sizes[i], piece_units);
        }
      }
    }
  }
  for (const std::string refused : {R"([[[["x"]]]])", R"(["a",1])", R"({"a":1})", R"(["a")"}) {
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

// Items that do not end in CR LF or a mark come back unchanged from their JSON.
TEST(ItemRoundTripTest, ItemTextsSurviveItemToJsonThenJsonToItem) {
  static const std::u16string pieces[] = {u"a", u"xyz", u"\x00E9", u"\x4E2D", u"\xD83D\xDE00", u"\xD800", u"\xDFFF",
                                          u"\"", u"\\", u"\t", u"\r", u"\n", std::u16string(1, u'\0'), u"\x7F",
                                          crlf, vm, sm, u""};
  std::mt19937 rng(31337);
  for (int round = 0; round < 5000; ++round) {
    std::u16string item;
    for (int i = static_cast<int>(rng() % 12); i > 0; --i) item += pieces[rng() % std::size(pieces)];
    const bool ends_in_crlf = item.size() >= 2 && item.compare(item.size() - 2, 2, crlf) == 0;
    if (ends_in_crlf || (!item.empty() && (item.back() == value_mark || item.back() == subvalue_mark))) continue;
    const std::string json = to_json(item);
    json_tokenizer t = tokenizer_of(json);
    text back;
    ASSERT_TRUE(json_to_item(t, back)) << json;
    ASSERT_EQ(hex_units(back), hex_units(item)) << json;
  }
}

}  // namespace
}  // namespace ombrix
