#include "rest/json/item_text.h"

#include <algorithm>

namespace ombrix {
namespace {

enum class mark { line_end, value, subvalue, none };

// Encodes the units from `from` up to the next mark (CR LF, value mark or subvalue mark; a CR
// without LF is data) into `piece` as UTF-8, and returns the mark and its position `at` (the
// length when there is none). Works through windows of units so that the buffer stays in
// proportion to the piece, not to the whole item.
mark encode_piece(std::u16string_view item, std::size_t from, std::string& piece,
                  std::size_t& piece_length, std::size_t& at) {
  constexpr std::size_t window = 4096;
  const char16_t* const units = item.data();
  const std::size_t length = item.size();
  piece_length = 0;
  std::size_t p = from;
  while (true) {
    std::size_t window_end = std::min(length, p + window);
    // Never split a surrogate pair between two windows.
    if (window_end < length) {
      const char16_t edge = units[window_end - 1];  // window_end > p here
      if (edge >= 0xD800 && edge <= 0xDBFF) ++window_end;
    }
    const std::size_t room = piece_length + 3 * (window_end - p);
    if (piece.size() < room) piece.resize(std::max(room, 2 * piece.size()));
    char* out = piece.data() + piece_length;
    const char16_t* stop = encode_utf8_to_mark(units + p, units + window_end, out);
    piece_length = static_cast<std::size_t>(out - piece.data());
    p = static_cast<std::size_t>(stop - units);
    if (p == window_end) {
      if (p == length) {
        at = length;
        return mark::none;
      }
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
    if (p + 1 < length && units[p + 1] == u'\n') {
      at = p;
      return mark::line_end;
    }
    // A CR on its own is data; the room reserved for the window covers it.
    piece[piece_length++] = '\r';
    ++p;
  }
}

}  // namespace

// The next mark of each kind always lies at or after the position, so acting on the first mark
// found from the position is the same as comparing the next CR LF, value mark and subvalue mark.
// One forward pass over the text, whatever its shape; each piece is encoded as it is scanned.
void item_to_json(json_writer& writer, std::u16string_view item, std::size_t start) {
  const std::size_t length = item.size();
  std::size_t pos = std::min(start, length);
  int depth = 0;  // 0 outside a value array, 1 inside one, 2 inside a subvalue array
  std::string piece;
  std::size_t piece_length = 0;

  writer.begin_array();
  do {
    std::size_t at = 0;
    const mark found = encode_piece(item, pos, piece, piece_length, at);
    const std::string_view text(piece.data(), piece_length);
    switch (found) {
      case mark::subvalue:
        for (; depth < 2; ++depth) writer.begin_array();
        writer.string(text);
        pos = at + 1;
        break;
      case mark::value:
        for (; depth < 1; ++depth) writer.begin_array();
        writer.string(text);
        for (; depth > 1; --depth) writer.end_array();
        pos = at + 1;
        break;
      case mark::line_end:
      case mark::none:
        writer.string(text);
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
