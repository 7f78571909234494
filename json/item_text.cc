#include "json/item_text.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

namespace ombrix {
namespace {

enum class mark_kind { line_end, value, subvalue, none };

// The depth of the arrays around the string that `found` ends (see item_json_pieces).
constexpr int level_after(mark_kind found) {
  return found == mark_kind::subvalue ? 2 : found == mark_kind::value ? 1 : 0;
}

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

// The index of the first set lane of `lanes`, 8 when none is set.
int first_lane(mask_vector lanes) {
  std::uint64_t halves[2];
  std::memcpy(halves, &lanes, sizeof halves);
  // Lane 0 is the low end of the first half on little-endian machines, its high end elsewhere.
  const auto first_in = [](std::uint64_t half) {
    return std::endian::native == std::endian::little ? __builtin_ctzll(half) / 16
                                                      : __builtin_clzll(half) / 16;
  };
  if (halves[0] != 0) return first_in(halves[0]);
  if (halves[1] != 0) return 4 + first_in(halves[1]);
  return 8;
}

// The same for 32 units, tested at once: long attributes are skipped a cache line at a time.
bool may_hold_mark_32(const char16_t* units) {
  return any_lane(mark_lanes(units) | mark_lanes(units + 8) | mark_lanes(units + 16) |
                  mark_lanes(units + 24));
}

// The next mark (CR LF, value mark or subvalue mark; a CR without LF is data) from `from`, and
// its position `at` (the length when there is none). 32 or eight units are skipped at a time
// while none of them can be a mark; within eight that hold one, the scan goes straight to it.
mark_kind find_mark(std::u16string_view item, std::size_t from, std::size_t& at) {
  static_assert(subvalue_mark == (value_mark ^ 1), "the marks differ in their lowest bit");
  const char16_t* const units = item.data();
  const std::size_t length = item.size();
  std::size_t p = from;
  while (p < length) {
    if (length - p >= 32 && !may_hold_mark_32(units + p)) {
      p += 32;
      continue;
    }
    if (length - p >= 8) {
      // Straight to the first of the eight that may be a mark, or past all eight.
      const int lane = first_lane(mark_lanes(units + p));
      p += static_cast<std::size_t>(lane);
      if (lane == 8) continue;
    }
    const char16_t u = units[p];
    if (u == value_mark) {
      at = p;
      return mark_kind::value;
    }
    if (u == subvalue_mark) {
      at = p;
      return mark_kind::subvalue;
    }
    if (u == u'\r' && p + 1 < length && units[p + 1] == u'\n') {
      at = p;
      return mark_kind::line_end;
    }
    ++p;
  }
  at = length;
  return mark_kind::none;
}

constexpr bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

void item_to_json(json_writer& writer, std::u16string_view item, std::size_t start) {
  const std::size_t pos = std::min(start, item.size());
  // Text of ASCII units takes about a byte per unit; the marks' quotes and brackets a little more.
  const std::size_t units = item.size() - pos;
  writer.expect(units + units / 4 + 64);
  item_json_pieces pieces(writer);
  pieces.add(item.substr(pos));
  pieces.finish();
}

item_json_pieces::item_json_pieces(json_writer& writer, std::string* out)
    : writer_(writer), out_(out), out_base_(out ? out->size() : 0) {}

// The next mark of each kind always lies at or after the position, so acting on the first mark
// found from the position is the same as comparing the next CR LF, value mark and subvalue mark.
// One forward pass over the text, whatever its shape; each string is encoded straight into the
// writer, so a string of any size costs no buffer of its own. A string is written with the
// brackets that its ending mark calls for before it; one that a piece leaves open gets them
// inserted before its quote when its end is seen.
void item_json_pieces::add(std::u16string_view piece) {
  if (!started_) {
    writer_.begin_array();
    started_ = true;
  }
  std::size_t pos = 0;
  if (held_ != 0) {
    if (piece.empty()) return;
    const char16_t held = held_;
    held_ = 0;
    if (held == u'\r' && piece[0] == u'\n') {
      end_string(0, nullptr, nullptr);
      pos = 1;
    } else if (is_high_surrogate(held) && is_low_surrogate(piece[0])) {
      const char16_t pair[2] = {held, piece[0]};
      text_part(pair, pair + 2);
      pos = 1;
    } else {
      text_part(&held, &held + 1);
    }
  }
  std::size_t length = piece.size();
  if (length > pos && (piece[length - 1] == u'\r' || is_high_surrogate(piece[length - 1]))) {
    held_ = piece[--length];
  }
  const std::u16string_view units = piece.substr(0, length);
  while (pos < length) {
    std::size_t at = 0;
    const mark_kind found = find_mark(units, pos, at);
    if (found == mark_kind::none) {
      text_part(units.data() + pos, units.data() + length);
      break;
    }
    end_string(level_after(found), units.data() + pos, units.data() + at);
    pos = at + (found == mark_kind::line_end ? 2 : 1);
  }
  flush();
}

void item_json_pieces::finish() {
  if (!started_) {
    writer_.begin_array();
    started_ = true;
  }
  if (held_ != 0) {
    const char16_t held = held_;
    held_ = 0;
    text_part(&held, &held + 1);
  }
  if (open_ || !any_string_) end_string(0, nullptr, nullptr);
  for (int i = 0; i <= depth_; ++i) writer_.end_array();
  flush();
}

void item_json_pieces::text_part(const char16_t* first, const char16_t* last) {
  if (!open_) {
    quote_at_ = moved_ + writer_.begin_string();
    open_ = true;
  }
  writer_.string_part_utf16(first, last);
}

// Ends the string made of the open part (if any) and [first, last), and writes the brackets
// around it for `level`.
void item_json_pieces::end_string(int level, const char16_t* first, const char16_t* last) {
  const int wanted = level;
  if (open_) {
    writer_.string_part_utf16(first, last);
    writer_.end_string();
    open_ = false;
    if (depth_ < wanted) {
      const std::string_view brackets = std::string_view("[[").substr(0, wanted - depth_);
      if (quote_at_ >= moved_) {
        writer_.insert(static_cast<std::uint32_t>(quote_at_ - moved_), brackets);
      } else {
        out_->insert(out_base_ + static_cast<std::size_t>(quote_at_), brackets);
        moved_ += brackets.size();
      }
      depth_ = wanted;
    }
  } else {
    for (; depth_ < wanted; ++depth_) writer_.begin_array();
    writer_.string_utf16(first, last);
  }
  any_string_ = true;
  for (; depth_ > wanted; --depth_) writer_.end_array();
}

void item_json_pieces::flush() {
  if (out_ == nullptr) return;
  moved_ += writer_.size();
  writer_.move_to(*out_);
}

namespace {

// Reads one JSON array of item data from the tokenizer, handing the text to `out` as separators
// (attribute, value and subvalue) and UTF-8 strings. False when the array is malformed or holds
// anything but strings and arrays.
template <class Out>
bool walk_item_json(json_tokenizer& tokenizer, Out& out) {
  // Separator by level: nothing, then attribute, value and subvalue separators.
  static constexpr std::u16string_view separators[] = {u"", u"\r\n", u"\xF8FD", u"\xF8FC"};
  if (tokenizer.next() != json_kind::begin_array) return false;
  int depth = 1;
  int pending = 0;
  while (true) {
    switch (tokenizer.next()) {
      case json_kind::begin_array:
        if (++depth > 3) return false;
        break;
      case json_kind::end_array:
        if (--depth == 0) return true;
        pending = depth;
        break;
      case json_kind::string:
        out.separator(separators[pending]);
        out.utf8(tokenizer.string_bytes());
        pending = depth;
        break;
      default:
        // Numbers, literals, objects and member names have no place in item text; skipping
        // them would shift the attributes that follow, so the whole array is refused.
        return false;
    }
  }
}

// Calls `convert` for consecutive chunks of `bytes` of at most `limit` bytes, each ending where
// a UTF-8 sequence ends (unless no sequence starts within the last three bytes, which only
// malformed text has, or `limit` is below 4): converted chunk by chunk, the text is the same as converted whole, and
// malformed text fails the same way.
template <class Convert>
void utf8_chunks(std::string_view bytes, std::size_t limit, Convert&& convert) {
  const auto continuation = [&](std::size_t at) {
    return (static_cast<unsigned char>(bytes[at]) & 0xC0) == 0x80;
  };
  while (!bytes.empty()) {
    std::size_t cut = std::min(limit, bytes.size());
    if (cut < bytes.size()) {
      std::size_t start = cut;
      while (start > 0 && cut - start < 3 && continuation(start)) --start;
      if (start > 0 && !continuation(start)) cut = start;
    }
    convert(bytes.substr(0, cut));
    bytes.remove_prefix(cut);
  }
}

constexpr std::size_t measure_chunk_bytes = 64 * 1024;

}  // namespace

bool json_to_item(json_tokenizer& tokenizer, text& item) {
  struct whole_text {
    text built;
    void separator(std::u16string_view units) { built.append(units); }
    void utf8(std::string_view bytes) { append_from_utf8(built, bytes); }
  } out;
  // No more units than the array has bytes; reserved, the text is never copied as it grows, and
  // the untouched part costs no memory.
  out.built.reserve(tokenizer.remaining_bytes());
  if (!walk_item_json(tokenizer, out)) return false;
  item = std::move(out.built);
  return true;
}

bool measure_json_item(json_tokenizer& tokenizer, std::size_t& units) {
  struct counter {
    std::size_t units = 0;
    text scratch;
    void separator(std::u16string_view separator) { units += separator.size(); }
    void utf8(std::string_view bytes) {
      utf8_chunks(bytes, measure_chunk_bytes, [&](std::string_view chunk) {
        scratch.clear();
        append_from_utf8(scratch, chunk);
        units += scratch.size();
      });
    }
  } out;
  if (!walk_item_json(tokenizer, out)) return false;
  units = out.units;
  return true;
}

void json_item_pieces(json_tokenizer& tokenizer, std::size_t piece_units,
                      const std::function<void(std::u16string_view piece)>& put) {
  struct pieces {
    const std::size_t piece_units;
    const std::function<void(std::u16string_view)>& put;
    text buffer;
    void flush_full() {
      if (buffer.size() < piece_units) return;
      put(buffer);
      buffer.clear();
    }
    void separator(std::u16string_view separator) {
      buffer.append(separator);
      flush_full();
    }
    // A chunk of piece_units bytes gives at most piece_units units.
    void utf8(std::string_view bytes) {
      utf8_chunks(bytes, piece_units, [&](std::string_view chunk) {
        append_from_utf8(buffer, chunk);
        flush_full();
      });
    }
  } out{piece_units, put, {}};
  out.buffer.reserve(2 * piece_units);
  (void)walk_item_json(tokenizer, out);
  if (!out.buffer.empty()) put(out.buffer);
}

}  // namespace ombrix
