#include "json/item_text.h"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/expected_bytes.h"

namespace ombrix {
namespace {

const std::u16string vm(1, value_mark);
const std::u16string sm(1, subvalue_mark);
const std::u16string crlf = u"\r\n";

using test::hex_units;

std::string to_json(std::u16string_view item, std::size_t start = 0) {
  json_writer w;
  item_to_json(w, item, start);
  return w.text();
}

// The scan skips 32 and eight units at a time: every mark, and every unit that only resembles
// one, is found or passed over at each place within and across those groups.
TEST(ItemToJsonTest, MarksAreFoundAtEveryOffsetOfTheFastScan) {
  const struct {
    std::u16string unit;
    const char* middle;  // the JSON between prefix and suffix
  } marks[] = {
      {vm, "\",\""}, {sm, "\",\""}, {crlf, "\",\""}, {u"\r", "\\r"},
      {u"\xF8FE", "\xEF\xA3\xBE"}, {u"\xF8FB", "\xEF\xA3\xBB"}, {u"\x00F8", "\xC3\xB8"},
      {u"\x0D0D", "\xE0\xB4\x8D"}, {u"\xFD0D", "\xEF\xB4\x8D"},
  };
  for (const auto& m : marks) {
    constexpr std::size_t around = 71;  // units besides the one placed: past two groups of 32
    for (std::size_t at = 0; at < around; ++at) {
      const std::u16string prefix(at, u'a');
      const std::u16string suffix(around - at, u'b');
      const int depth = m.unit == sm ? 3 : m.unit == vm ? 2 : 1;
      std::string expected(static_cast<std::size_t>(depth), '[');
      expected.append(1, '"').append(at, 'a').append(m.middle).append(around - at, 'b');
      expected.append(1, '"');
      expected.append(static_cast<std::size_t>(depth), ']');
      SCOPED_TRACE(hex_units(m.unit) + " at " + std::to_string(at));
      EXPECT_EQ(to_json(prefix + m.unit + suffix), expected);
    }
  }
}

struct to_json_case {
  const char* name;
  std::u16string item;
  std::size_t start;
  std::string json;
};

TEST(ItemToJsonTest, WritesOneArrayPerItem) {
  const std::vector<to_json_case> cases = {
      {"empty item", u"", 0, R"([""])"},
      {"trailing CR LF adds nothing", u"a" + crlf, 0, R"(["a"])"},
      {"empty middle attribute", u"a" + crlf + crlf + u"b", 0, R"(["a","","b"])"},
      {"the mixed example", u"a" + sm + u"b" + vm + u"c" + sm + u"d" + crlf + u"e", 0,
       R"([[["a","b"],["c","d"]],"e"])"},
      {"empty value with subvalues", u"a" + vm + sm + u"b", 0, R"([["a",["","b"]]])"},
      {"value mark then CR LF", u"a" + vm + crlf + u"b", 0, R"([["a",""],"b"])"},
      {"lone CR and LF are data", u"a\rb\nc\r", 0, R"(["a\rb\nc\r"])"},
      {"start skips a prefix", u"skip" + crlf + u"a" + vm + u"b", 6, R"([["a","b"]])"},
      {"start past the end", u"abc", 9, R"([""])"},
      {"UTF-8 and escapes in pieces", u"Caf\x00E9\"\xD83D\xDE00" + vm + u"\t", 0,
       "[[\"Caf\xC3\xA9\\\"\xF0\x9F\x98\x80\",\"\\t\"]]"},
      {"marks past the first four units",
       u"abcdefg" + crlf + u"hijklmn" + vm + u"opqrstu" + sm + u"v", 0,
       R"(["abcdefg",["hijklmn",["opqrstu","v"]]])"},
      {"lone CR inside a long run", u"abcd\refgh\rijkl" + crlf + u"m", 0,
       R"(["abcd\refgh\rijkl","m"])"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(to_json(c.item, c.start), c.json);
  }
}

// Long pieces are encoded in windows of units; a pair or a CR LF on a window's edge must not
// be split.
TEST(ItemToJsonTest, LongPiecesKeepPairsAndLineEndsWhole) {
  for (std::size_t offset = 4085; offset < 4100; ++offset) {
    const std::u16string before(offset, u'a');
    const std::u16string pair_item = before + u"\xD83D\xDE00" + before;
    EXPECT_EQ(to_json(pair_item), "[\"" + std::string(offset, 'a') + "\xF0\x9F\x98\x80" +
                                      std::string(offset, 'a') + "\"]")
        << offset;
    const std::u16string crlf_item = before + crlf + u"b\r";
    EXPECT_EQ(to_json(crlf_item), "[\"" + std::string(offset, 'a') + "\",\"b\\r\"]") << offset;
  }
  const std::u16string big(20000, u'\x4E2D');
  EXPECT_EQ(to_json(big + vm + u"x"), "[[\"" + to_utf8(big) + "\",\"x\"]]");
}

// The JSON of `item` written in the pieces that `cuts` (ascending unit offsets) makes, preceded
// by a member so that separators count; through `out` when `moved`.
std::string json_in_pieces(std::u16string_view item, const std::vector<std::size_t>& cuts,
                           bool moved) {
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
      u"",
      u"a",
      u"a" + crlf,
      crlf + crlf,
      u"abc" + sm + u"de" + vm + u"fg" + sm + u"h" + crlf + u"ij",
      u"a" + vm + sm + u"b" + vm,
      u"x\ry\r\r" + crlf + u"\r",
      u"\xD83D\xDE00" + vm + u"\xD800" + crlf + u"\xDC00\xD83D",
      u"\xD800\xDC00\xDBFF\xDFFF",  // the first and the last surrogate pair
      u"q\"\\\t" + sm + std::u16string(40, u'w') + vm + u"\x00E9\x4E2D",
      std::u16string(37, u'p') + sm + std::u16string(45, u'r') + crlf + std::u16string(9, u's'),
  };
  for (const std::u16string& item : items) {
    SCOPED_TRACE(hex_units(item));
    const std::string whole = "{\"data\":" + to_json(item) + "}";
    std::vector<std::size_t> every;
    for (std::size_t cut = 0; cut <= item.size(); ++cut) {
      SCOPED_TRACE(cut);
      EXPECT_EQ(json_in_pieces(item, {cut}, false), whole);
      EXPECT_EQ(json_in_pieces(item, {cut}, true), whole);
      EXPECT_EQ(json_in_pieces(item, {cut, cut}, true), whole);  // an empty piece between
      if (cut > 0) every.push_back(cut);
    }
    EXPECT_EQ(json_in_pieces(item, every, false), whole);
    EXPECT_EQ(json_in_pieces(item, every, true), whole);
  }
}

// A string that pieces keep open gets the arrays its ending mark calls for inserted before it,
// also when it is far longer than one piece and its start has long been moved on.
TEST(ItemJsonPiecesTest, LongStringsEndedByMarksInLaterPieces) {
  const std::u16string run(100000, u'z');
  for (const std::u16string& end : {sm + u"t", vm + u"t", crlf + u"t", std::u16string()}) {
    const std::u16string item = u"h" + crlf + run + end;
    std::vector<std::size_t> cuts;
    for (std::size_t cut = 1000; cut < item.size(); cut += 32768) cuts.push_back(cut);
    SCOPED_TRACE(hex_units(end));
    EXPECT_EQ(json_in_pieces(item, cuts, true), "{\"data\":" + to_json(item) + "}");
  }
}

// Measured and then handed on in pieces of any size, an array gives exactly the text that
// json_to_item builds; what json_to_item refuses or throws on, measuring does too.
TEST(JsonItemPiecesTest, PiecesMakeTheTextJsonToItemBuilds) {
  const std::string arrays[] = {
      R"([])",
      R"(["a"])",
      R"(["NAME",["ADDR1","ADDR2"],[["s1","s2"],"v2"],"","last"])",
      "[\"Gr\xC3\xBC\xC3\x9F" "e\xF0\x9F\x98\x80x\",[\"\xE6\x97\xA5\xF0\x9F\x91\x8D\"],\"\\ud83d\\ude00\\t\"]",
      "[\"" + std::string(300, 'w') + "\xF0\x9F\x98\x80" + std::string(301, 'v') + "\"]",
  };
  for (const std::string& array : arrays) {
    json_tokenizer whole;
    whole.init(array.data(), static_cast<std::uint32_t>(array.size()));
    text expected;
    ASSERT_TRUE(json_to_item(whole, expected)) << array;
    for (const std::size_t piece_units : {4, 5, 7, 64}) {
      SCOPED_TRACE(array + " in pieces of " + std::to_string(piece_units));
      json_tokenizer t;
      t.init(array.data(), static_cast<std::uint32_t>(array.size()));
      std::size_t units = 0;
      ASSERT_TRUE(measure_json_item(t, units));
      EXPECT_EQ(units, expected.size());
      t.init(array.data(), static_cast<std::uint32_t>(array.size()));
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
    json_tokenizer t;
    t.init(refused.data(), static_cast<std::uint32_t>(refused.size()));
    std::size_t units = 0;
    EXPECT_FALSE(measure_json_item(t, units)) << refused;
  }
  // Malformed UTF-8 far into a long string, where the conversion works in chunks.
  const std::string bad = "[\"" + std::string(200000, 'x') + "\xC3(\"]";
  json_tokenizer t;
  t.init(bad.data(), static_cast<std::uint32_t>(bad.size()));
  std::size_t units = 0;
  EXPECT_THROW(measure_json_item(t, units), std::range_error);
}

struct to_item_case {
  std::string json;
  bool ok;
  std::u16string item;
};

TEST(JsonToItemTest, BuildsTheItemText) {
  const std::u16string keep = u"unchanged";
  const std::vector<to_item_case> cases = {
      {R"(["a","",["b"]])", true, u"a" + crlf + crlf + u"b"},
      {R"([[[["x"]]]])", false, keep},
      {R"([["a",["b","c"]],"d"])", true,
       u"a" + vm + u"b" + sm + u"c" + crlf + u"d"},
      {R"([[["a","b"],["c","d"]],"e"])", true,
       u"a" + sm + u"b" + vm + u"c" + sm + u"d" + crlf + u"e"},
      {R"([])", true, u""},
      {R"(["a",])", true, u"a"},
      {R"(["a"] trailing text is not read)", true, u"a"},
      {"[\"\\u00e9\\uD83D\\uDE00\\n\"]", true, u"\x00E9\xD83D\xDE00\n"},
      {R"({"a":1})", false, keep},
      {"", false, keep},
      {R"(["a")", false, keep},
      {R"([1,])", false, keep},
      {R"(["a" "b"])", false, keep},
      // Regression: values that item text cannot hold used to be skipped, shifting the
      // attributes after them.
      {R"(["A",42,true,null,"B"])", false, keep},
      {R"(["a",{"k":"v"},"b"])", false, keep},
      {R"([[["a",null]]])", false, keep},
  };
  for (const auto& c : cases) {
    json_tokenizer t;
    t.init(c.json.data(), static_cast<std::uint32_t>(c.json.size()));
    text item = keep;
    EXPECT_EQ(json_to_item(t, item), c.ok) << c.json;
    EXPECT_EQ(hex_units(item), hex_units(c.item)) << c.json;
  }
}

TEST(JsonToItemTest, InvalidUtf8ThrowsAndLeavesTheItem) {
  const std::string json = "[\"ok\",\"bad \xC3\"]";
  json_tokenizer t;
  t.init(json.data(), static_cast<std::uint32_t>(json.size()));
  text item = u"before";
  EXPECT_THROW(json_to_item(t, item), std::range_error);
  EXPECT_EQ(item, u"before");
}

// Items that do not end in CR LF or a mark come back unchanged from their JSON.
TEST(ItemRoundTripTest, ItemTextsSurviveItemToJsonThenJsonToItem) {
  static const std::u16string pieces[] = {
      u"a", u"xyz", u"\x00E9", u"\x4E2D", u"\xD83D\xDE00", u"\xD800", u"\xDFFF", u"\"",
      u"\\", u"\t", u"\r", u"\n", std::u16string(1, u'\0'), u"\x7F", crlf, vm, sm, u""};
  std::mt19937 rng(31337);
  for (int round = 0; round < 5000; ++round) {
    std::u16string item;
    const int count = static_cast<int>(rng() % 12);
    for (int i = 0; i < count; ++i) item += pieces[rng() % std::size(pieces)];
    const bool ends_in_mark =
        !item.empty() && (item.back() == value_mark || item.back() == subvalue_mark);
    const bool ends_in_crlf = item.size() >= 2 && item.compare(item.size() - 2, 2, crlf) == 0;
    if (ends_in_mark || ends_in_crlf) continue;

    const std::string json = to_json(item);
    json_tokenizer t;
    t.init(json.data(), static_cast<std::uint32_t>(json.size()));
    text back;
    ASSERT_TRUE(json_to_item(t, back)) << json;
    ASSERT_EQ(hex_units(back), hex_units(item)) << json;
  }
}

}  // namespace
}  // namespace ombrix
