// json_tokenizer: a lenient pull scanner over UTF-8 JSON text; it checks token shapes, not the
// full grammar. Does not own the text, which must outlive it. Not thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ombrix {

// Token kinds; the numbers are part of the callers' contract.
namespace json_kind {
inline constexpr std::uint32_t end = 0;
inline constexpr std::uint32_t begin_object = 1;
inline constexpr std::uint32_t end_object = 2;
inline constexpr std::uint32_t begin_array = 3;
inline constexpr std::uint32_t end_array = 4;
inline constexpr std::uint32_t true_value = 5;
inline constexpr std::uint32_t false_value = 6;
inline constexpr std::uint32_t null_value = 7;
inline constexpr std::uint32_t integer = 8;
inline constexpr std::uint32_t real = 9;
inline constexpr std::uint32_t string = 10;
inline constexpr std::uint32_t name = 11;
inline constexpr std::uint32_t error = 12;
inline constexpr std::uint32_t comma = 13;  // internal: a comma was just read; never returned
}  // namespace json_kind

class json_tokenizer {
 public:
  // Starts scanning `length` bytes at `text` (need not be NUL-terminated).
  void init(const char* text, std::uint32_t length);

  // Scans the next token and returns its kind. Not to be called again after an error.
  std::uint32_t next();

  // The current string or member name (kinds 10, 11), decoded; for numbers (8, 9) their text;
  // empty for other kinds.
  std::string string_value() const;
  // The same bytes without a copy; valid until the next call of next() or init().
  std::string_view string_bytes() const;
  // Kind 8: the number (base 10, optional sign, saturating at the 64-bit limits); kind 5: 1;
  // kinds 9 to 11: the leading integer of the token's text; otherwise 0.
  std::int64_t integer_value() const;
  // Kind 9: the number (1.5.2 reads as 1.5); kind 5: 1.0; kinds 8, 10, 11: the leading decimal
  // number of the token's text; otherwise 0.0.
  double real_value() const;

  // Offset of the next byte to scan.
  std::uint32_t position() const { return position_; }
  // Bytes not scanned yet.
  std::uint32_t remaining_bytes() const { return length_ - position_; }

 private:
  std::uint32_t scan_string();
  std::uint32_t scan_number();
  void decode_escapes() const;

  const char* text_ = nullptr;
  std::uint32_t length_ = 0;
  std::uint32_t position_ = 0;
  std::uint32_t token_start_ = 0;
  std::uint32_t token_length_ = 0;
  mutable std::string unescaped_;  // decoded current string, made on first request
  bool escaped_ = false;           // the current string contains a backslash
  mutable bool decoded_ = false;   // unescaped_ holds the current string
  std::uint32_t kind_ = 0;
};

}  // namespace ombrix
