#include "rest/item_text.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace ombrix {
namespace {

enum class mark { line_end, value, subvalue, none };

// The first mark at or after `from`: CR LF, a value mark or a subvalue mark (a CR without LF is
// data). Stores its position in `at`, or the length when there is none.
mark next_mark(std::u16string_view item, std::size_t from, std::size_t& at) {
  const char16_t* const units = item.data();
  const std::size_t length = item.size();
  std::size_t i = from;
  // Four units at a time: a unit equal to m shows as a zero lane of x ^ (m * lanes).
  constexpr std::uint64_t lanes = 0x0001000100010001ull;
  constexpr std::uint64_t highs = 0x8000800080008000ull;
  auto has_zero = [](std::uint64_t x) { return (x - lanes) & ~x & highs; };
  while (length - i >= 4) {
    std::uint64_t x;
    std::memcpy(&x, units + i, 8);
    if (has_zero(x ^ (lanes * u'\r')) | has_zero(x ^ (lanes * value_mark)) |
        has_zero(x ^ (lanes * subvalue_mark))) {
      break;
    }
    i += 4;
  }
  for (; i < length; ++i) {
    const char16_t u = units[i];
    if (u == u'\r') {
      if (i + 1 < length && units[i + 1] == u'\n') {
        at = i;
        return mark::line_end;
      }
    } else if (u == value_mark) {
      at = i;
      return mark::value;
    } else if (u == subvalue_mark) {
      at = i;
      return mark::subvalue;
    }
  }
  at = length;
  return mark::none;
}

// Writes units [from, to) as one JSON string through a reused UTF-8 buffer.
void write_piece(json_writer& writer, std::string& scratch, std::u16string_view item,
                 std::size_t from, std::size_t to) {
  const std::size_t most = 3 * (to - from);
  if (scratch.size() < most) scratch.resize(most);
  const char* const end = encode_utf8(item.data() + from, item.data() + to, scratch.data());
  writer.string(std::string_view(scratch.data(), static_cast<std::size_t>(end - scratch.data())));
}

}  // namespace

// The next mark of each kind always lies at or after the position, so acting on the first mark
// found from the position is the same as comparing the next CR LF, value mark and subvalue mark.
// One forward pass over the text, whatever its shape.
void item_to_json(json_writer& writer, std::u16string_view item, std::size_t start) {
  const std::size_t length = item.size();
  std::size_t pos = std::min(start, length);
  int depth = 0;  // 0 outside a value array, 1 inside one, 2 inside a subvalue array
  std::string scratch;

  writer.begin_array();
  do {
    std::size_t at = 0;
    switch (next_mark(item, pos, at)) {
      case mark::subvalue:
        for (; depth < 2; ++depth) writer.begin_array();
        write_piece(writer, scratch, item, pos, at);
        pos = at + 1;
        break;
      case mark::value:
        for (; depth < 1; ++depth) writer.begin_array();
        write_piece(writer, scratch, item, pos, at);
        for (; depth > 1; --depth) writer.end_array();
        pos = at + 1;
        break;
      case mark::line_end:
      case mark::none:
        write_piece(writer, scratch, item, pos, at);
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
      case json_kind::end:
      case json_kind::error:
        return false;
      default:
        break;  // numbers, literals, braces and member names carry no item data
    }
  }
}

}  // namespace ombrix
