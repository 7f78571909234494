#include "rest/item_text.h"

#include <algorithm>

namespace ombrix {
namespace {

constexpr char16_t cr = u'\r';
constexpr char16_t lf = u'\n';

// Next CR LF at or after `from`, or `none`.
std::size_t find_line_end(std::u16string_view item, std::size_t from, std::size_t none) {
  while (from < item.size()) {
    const std::size_t at = item.find(cr, from);
    if (at == std::u16string_view::npos || at + 1 >= item.size()) return none;
    if (item[at + 1] == lf) return at;
    from = at + 1;
  }
  return none;
}

std::size_t find_mark(std::u16string_view item, char16_t mark, std::size_t from,
                      std::size_t none) {
  const std::size_t at = item.find(mark, from);
  return at == std::u16string_view::npos ? none : at;
}

// Writes units [from, to) as one JSON string, converting through a reused scratch buffer.
void write_piece(json_writer& writer, std::string& scratch, std::u16string_view item,
                 std::size_t from, std::size_t to) {
  scratch.clear();
  append_utf8(scratch, item.data() + from, item.data() + to);
  writer.string(scratch);
}

}  // namespace

// Each mark is searched again only after the position has passed it, so the text is read a
// bounded number of times whatever its shape.
void item_to_json(json_writer& writer, std::u16string_view item, std::size_t start) {
  const std::size_t length = item.size();
  std::size_t pos = std::min(start, length);
  std::size_t line_end = find_line_end(item, pos, length);
  std::size_t value_at = find_mark(item, value_mark, pos, length + 1);
  std::size_t subvalue_at = find_mark(item, subvalue_mark, pos, length + 2);
  int depth = 0;
  std::string scratch;

  writer.begin_array();
  do {
    if (subvalue_at < value_at && subvalue_at < line_end) {
      for (; depth < 2; ++depth) writer.begin_array();
      write_piece(writer, scratch, item, pos, subvalue_at);
      pos = subvalue_at + 1;
      subvalue_at = find_mark(item, subvalue_mark, pos, length + 2);
    } else if (value_at < line_end) {
      for (; depth < 1; ++depth) writer.begin_array();
      write_piece(writer, scratch, item, pos, value_at);
      for (; depth > 1; --depth) writer.end_array();
      pos = value_at + 1;
      value_at = find_mark(item, value_mark, pos, length + 1);
    } else {
      write_piece(writer, scratch, item, pos, line_end);
      for (; depth > 0; --depth) writer.end_array();
      pos = line_end + 2;
      line_end = find_line_end(item, pos, length);
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
