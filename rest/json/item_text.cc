#include "rest/json/item_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ombrix {
namespace {

enum class mark { line_end, value, subvalue, none };

// Eight 16-bit units, compared lane by lane in one instruction where the machine has vectors.
using unit_vector = std::uint16_t __attribute__((vector_size(16)));
using mask_vector = std::int16_t __attribute__((vector_size(16)));

// The lanes of eight units from `units` that are a CR, a value mark or a subvalue mark.
mask_vector mark_lanes(const char16_t* units) {
  unit_vector v;
  std::memcpy(&v, units, sizeof v);
  // (u | 1) == U+F8FD holds for both marks.
  return (v == std::uint16_t{u'\r'}) | ((v | std::uint16_t{1}) == std::uint16_t{value_mark});
}

bool any_lane(mask_vector lanes) {
  std::uint64_t halves[2];
  std::memcpy(halves, &lanes, sizeof halves);
  return (halves[0] | halves[1]) != 0;
}

// True when one of eight units from `units` is a CR, a value mark or a subvalue mark.
bool may_hold_mark(const char16_t* units) { return any_lane(mark_lanes(units)); }

// The same for 32 units, tested at once: long attributes are skipped a cache line at a time.
bool may_hold_mark_32(const char16_t* units) {
  return any_lane(mark_lanes(units) | mark_lanes(units + 8) | mark_lanes(units + 16) |
                  mark_lanes(units + 24));
}

// The next mark (CR LF, value mark or subvalue mark; a CR without LF is data) from `from`, and
// its position `at` (the length when there is none). 32 or eight units are skipped at a time
// while none of them can be a mark.
mark find_mark(std::u16string_view item, std::size_t from, std::size_t& at) {
  static_assert(subvalue_mark == (value_mark ^ 1), "the marks differ in their lowest bit");
  const char16_t* const units = item.data();
  const std::size_t length = item.size();
  std::size_t p = from;
  while (p < length) {
    if (length - p >= 32 && !may_hold_mark_32(units + p)) {
      p += 32;
      continue;
    }
    if (length - p >= 8 && !may_hold_mark(units + p)) {
      p += 8;
      continue;
    }
    const char16_t u = units[p];
    if (u == value_mark) {
      at = p;
      return mark::value;
    }
    if (u == subvalue_mark) {
      at = p;
      return mark::subvalue;
    }
    if (u == u'\r' && p + 1 < length && units[p + 1] == u'\n') {
      at = p;
      return mark::line_end;
    }
    ++p;
  }
  at = length;
  return mark::none;
}

}  // namespace

// The next mark of each kind always lies at or after the position, so acting on the first mark
// found from the position is the same as comparing the next CR LF, value mark and subvalue mark.
// One forward pass over the text, whatever its shape; each piece is encoded straight into the
// writer, so a piece of any size costs no buffer of its own.
void item_to_json(json_writer& writer, std::u16string_view item, std::size_t start) {
  const std::size_t length = item.size();
  std::size_t pos = std::min(start, length);
  int depth = 0;  // 0 outside a value array, 1 inside one, 2 inside a subvalue array
  // Text of ASCII units takes about a byte per unit; the marks' quotes and brackets a little more.
  const std::size_t units = length - pos;
  writer.expect(units + units / 4 + 64);

  writer.begin_array();
  do {
    std::size_t at = 0;
    const mark found = find_mark(item, pos, at);
    const char16_t* const first = item.data() + pos;
    const char16_t* const last = item.data() + at;
    switch (found) {
      case mark::subvalue:
        for (; depth < 2; ++depth) writer.begin_array();
        writer.string_utf16(first, last);
        pos = at + 1;
        break;
      case mark::value:
        for (; depth < 1; ++depth) writer.begin_array();
        writer.string_utf16(first, last);
        for (; depth > 1; --depth) writer.end_array();
        pos = at + 1;
        break;
      case mark::line_end:
      case mark::none:
        writer.string_utf16(first, last);
        for (; depth > 0; --depth) writer.end_array();
        pos = at + 2;
        break;
    }
  } while (pos < length);
  for (int i = 0; i <= depth; ++i) writer.end_array();
}

bool json_to_item(json_tokenizer& tokenizer, text& item) {
  // Separator by level: nothing, then attribute, value and subvalue separators.
  static constexpr std::u16string_view separators[] = {u"", u"\r\n", u"\xF8FD", u"\xF8FC"};
  if (tokenizer.next() != json_kind::begin_array) return false;
  int depth = 1;
  int pending = 0;
  text built;
  // No more units than the array has bytes; reserved, the text is never copied as it grows, and
  // the untouched part costs no memory.
  built.reserve(tokenizer.remaining_bytes());
  while (true) {
    switch (tokenizer.next()) {
      case json_kind::begin_array:
        if (++depth > 3) return false;
        break;
      case json_kind::end_array:
        if (--depth == 0) {
          item = std::move(built);
          return true;
        }
        pending = depth;
        break;
      case json_kind::string:
        built.append(separators[pending]);
        append_from_utf8(built, tokenizer.string_bytes());
        pending = depth;
        break;
      default:
        // Numbers, literals, objects and member names have no place in item text; skipping
        // them would shift the attributes that follow, so the whole array is refused.
        return false;
    }
  }
}

}  // namespace ombrix
