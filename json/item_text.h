// Conversion between MultiValue item text (CR LF between attributes, value and subvalue marks)
// and nested JSON arrays. Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "host/text.h"
#include "json/json_tokenizer.h"
#include "json/json_writer.h"

namespace ombrix {

// Writes the item text from unit `start` onward as one JSON array.
void item_to_json(json_writer& writer, std::u16string_view item, std::size_t start);

// item_to_json for a text that arrives in pieces, split anywhere (inside a CR LF or a surrogate
// pair too): add the pieces in order, then finish; the writer receives the same bytes as from
// item_to_json on the whole text. With `out`, everything written is moved from the writer to
// the end of `out` after each piece, so the writer holds about one piece however long the text.
// The writer and `out` must outlive the object; nothing else may write to them until finish.
class item_json_pieces {
 public:
  explicit item_json_pieces(json_writer& writer, std::string* out = nullptr);
  item_json_pieces(const item_json_pieces&) = delete;
  item_json_pieces& operator=(const item_json_pieces&) = delete;

  void add(std::u16string_view piece);
  // Ends the array. REQUIRES: called once, after the last piece.
  void finish();

 private:
  void text_part(const char16_t* first, const char16_t* last);
  // `level`: the depth that the string's end leaves (2 after a subvalue mark, 1 after a value
  // mark, 0 after CR LF or at the end of the text).
  void end_string(int level, const char16_t* first, const char16_t* last);
  void flush();

  json_writer& writer_;
  std::string* const out_;
  std::size_t out_base_ = 0;     // out's size before the first byte of this array
  std::uint64_t moved_ = 0;      // bytes moved to out so far (inserted ones included)
  int depth_ = 0;                // 0 outside a value array, 1 inside one, 2 inside a subvalue array
  bool started_ = false;         // the array is open
  bool any_string_ = false;      // a string was ended: an empty text still writes [""]
  bool open_ = false;            // a string is open, its end not seen yet
  std::uint64_t quote_at_ = 0;   // where the open string's quote is, counted from out_base_
  char16_t held_ = 0;            // a CR or high surrogate at a piece's end, waiting for its partner
};

// Reads one JSON array (at most three levels) from the tokenizer into `item`.
// Returns false, leaving `item` unchanged, when the array is malformed or holds anything but
// strings and arrays (numbers, true, false, null, objects).
// Throws std::range_error when a string is not valid UTF-8.
bool json_to_item(json_tokenizer& tokenizer, text& item);

// json_to_item's checks without building the text: returns false when json_to_item would (and
// throws when it would), else true with the number of units the text has in `units`.
bool measure_json_item(json_tokenizer& tokenizer, std::size_t& units);

// The text json_to_item would build, handed to `put` in order in pieces of piece_units to
// 2 * piece_units units (the last may be shorter), so that it is never whole in memory.
// REQUIRES: measure_json_item accepted the array; piece_units >= 4 (a UTF-8 sequence).
void json_item_pieces(json_tokenizer& tokenizer, std::size_t piece_units,
                      const std::function<void(std::u16string_view piece)>& put);

}  // namespace ombrix
