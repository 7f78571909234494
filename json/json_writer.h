// json_writer: an append-only JSON builder that inserts separators itself.
// Not thread-safe; one writer per reply. Never fails on content: every byte value is written.
//
//   json_writer w;
//   w.begin_object(); w.key("id"); w.string("A1"); w.end_object();
//   std::string json = w.text();   // {"id":"A1"}
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace ombrix {

// A member name written by the code itself: a string literal, checked while compiling to need
// no escape, so that writing it is a plain copy.
class json_name {
 public:
  template <std::size_t N>
  consteval json_name(const char (&name)[N]) : name_(name, N - 1) {  // NOLINT: implicit
    for (const char c : name_) {
      const auto b = static_cast<unsigned char>(c);
      // Reached only while compiling, where it stops the compile.
      if (b < 0x20 || b == 0x7F || c == '"' || c == '\\') throw "this name needs an escape";
    }
  }
  std::string_view view() const { return name_; }

 private:
  std::string_view name_;
};

class json_writer {
 public:
  json_writer() = default;
  ~json_writer();
  json_writer(const json_writer&) = delete;
  json_writer& operator=(const json_writer&) = delete;

  // The structure and the names of the code are written inline: a listing writes them for every
  // entry.
  void begin_object() { put_after_separator('{', 3); }
  void end_object() { put('}', 2); }
  void begin_array() { put_after_separator('[', 4); }
  void end_array() { put(']', 2); }

  void key(json_name name) {
    separator();
    const std::string_view plain = name.view();
    const auto length = static_cast<std::uint32_t>(plain.size());
    reserve(length + 2);
    buffer_[length_] = '"';
    std::memcpy(buffer_ + length_ + 1, plain.data(), length);
    buffer_[length_ + 1 + length] = '"';
    length_ += length + 2;
    state_ = 1;
  }
  // A name made at run time: any bytes, escaped as strings are.
  void dynamic_key(const char* bytes, std::uint32_t length);
  void dynamic_key(std::string_view name) {
    dynamic_key(name.data(), static_cast<std::uint32_t>(name.size()));
  }

  void string(const char* bytes, std::uint32_t length);
  void string(std::string_view value) {
    string(value.data(), static_cast<std::uint32_t>(value.size()));
  }
  void string(const char* value);

  // Writes 16-bit text as a quoted, escaped UTF-8 string, as string(to_utf8(units)) would,
  // without the intermediate copy.
  void string_utf16(const char16_t* first, const char16_t* last);
  void string_utf16(std::u16string_view units) {
    string_utf16(units.data(), units.data() + units.size());
  }

  // A 16-bit string written in parts, for text that arrives in pieces: begin_string writes the
  // separator and the opening quote and returns the quote's offset, each string_part_utf16
  // appends escaped text (REQUIRES: no part ends inside a surrogate pair), end_string closes the
  // string. Nothing else may be written while a string is open.
  std::uint32_t begin_string();
  void string_part_utf16(const char16_t* first, const char16_t* last);
  void end_string();

  void integer(std::int64_t value);
  void integer(std::int32_t value) { integer(static_cast<std::int64_t>(value)); }
  // Writes `digits` as the number when they are already the text integer() would write for it
  // (1 to 18 ASCII digits, no leading zero unless the only one) and returns true; otherwise
  // writes nothing and returns false.
  bool integer_text(std::u16string_view digits);

  // Makes room for `more` further bytes at once, so that a reply whose size is about known grows
  // its buffer once instead of step by step. Throws std::length_error beyond 4 GiB.
  void expect(std::size_t more);

  // Inserts `bytes` at offset `at` of what is written (REQUIRES: at <= size()), moving the bytes
  // after it; the structure is not checked.
  void insert(std::uint32_t at, std::string_view bytes);

  // Appends the bytes written so far to `out` and empties the buffer, keeping its memory and
  // the writer's place in the structure: writing goes on as if nothing had been taken, so a
  // long text can be written into `out` through a buffer of about one piece.
  void move_to(std::string& out);

  // The number of bytes in the buffer.
  std::uint32_t size() const { return length_; }

  // A copy of the bytes written so far.
  std::string text() const;
  // The bytes written so far; valid until the next write or release().
  std::string_view view() const { return {buffer_, length_}; }
  // Frees the buffer; the writer is empty again.
  void release();

 private:
  void separator() {
    if (state_ == 1 || state_ == 2) {
      reserve(1);
      buffer_[length_++] = state_ == 1 ? ':' : ',';
    }
  }
  void put(char byte, std::uint32_t state) {
    reserve(1);
    buffer_[length_++] = byte;
    state_ = state;
  }
  void put_after_separator(char byte, std::uint32_t state) {
    separator();
    put(byte, state);
  }
  // Makes room for `more` bytes; the common case, room enough, stays inline.
  void reserve(std::uint32_t more) {
    if (capacity_ - length_ < more) grow(more);
  }
  void grow(std::uint32_t more);
  void write_escaped(const char* bytes, std::uint32_t length);  // quoted
  // The bytes, escaped, without quotes; leaves room for a closing quote.
  void append_escaped(const char* bytes, std::uint32_t length);

  char* buffer_ = nullptr;
  std::uint32_t capacity_ = 0;
  std::uint32_t length_ = 0;
  std::uint32_t state_ = 0;  // 0 start, 1 after a name, 2 after a value, 3 after "{", 4 after "["
};

}  // namespace ombrix
