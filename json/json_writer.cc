#include "json/json_writer.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "host/text.h"

namespace ombrix {
namespace {

// How each byte is written inside a string: 0 means the byte itself; otherwise the escape's
// length, with the escape text in escape_text.
struct escape_table {
  unsigned char length[256] = {};
  char text[256][7] = {};

  constexpr escape_table() {
    constexpr char hex[] = "0123456789ABCDEF";
    for (int b = 0; b < 0x20; ++b) set_unicode(b, hex);
    set_unicode(0x7F, hex);
    set_short(0x08, 'b');
    set_short(0x09, 't');
    set_short(0x0A, 'n');
    set_short(0x0C, 'f');
    set_short(0x0D, 'r');
    set_short('"', '"');
    set_short('\\', '\\');
  }

 private:
  constexpr void set_unicode(int b, const char* hex) {
    const char escape[6] = {'\\', 'u', '0', '0', hex[(b >> 4) & 0xF], hex[b & 0xF]};
    for (int i = 0; i < 6; ++i) text[b][i] = escape[i];
    length[b] = 6;
  }
  constexpr void set_short(int b, char letter) {
    text[b][0] = '\\';
    text[b][1] = letter;
    length[b] = 2;
  }
};

constexpr escape_table escapes;

// Offset of the first byte at or after i that needs an escape, or `length`. Eight bytes are
// tested at a time for control bytes, quote, backslash and DEL.
inline std::uint32_t skip_plain(const unsigned char* in, std::uint32_t i, std::uint32_t length) {
  constexpr std::uint64_t ones = 0x0101010101010101ull;
  constexpr std::uint64_t highs = 0x8080808080808080ull;
  auto has_zero = [](std::uint64_t x) { return (x - ones) & ~x & highs; };
  // A byte below 0x20 (or 0x80 and above, tested again byte by byte) shows in the high bits.
  auto has_below_space = [](std::uint64_t x) { return (x - ones * 0x20) & ~x & highs; };
  // Sixteen bytes at a time where the machine has vectors, then eight.
  using byte_vector = std::uint8_t __attribute__((vector_size(16)));
  while (length - i >= 16) {
    byte_vector b;
    std::memcpy(&b, in + i, sizeof b);
    using mask_vector = std::int8_t __attribute__((vector_size(16)));
    const mask_vector stop = (b < std::uint8_t{0x20}) | (b == std::uint8_t{'"'}) |
                             (b == std::uint8_t{'\\'}) | (b >= std::uint8_t{0x7F});
    std::uint64_t halves[2];
    std::memcpy(halves, &stop, sizeof halves);
    if ((halves[0] | halves[1]) != 0) break;
    i += 16;
  }
  while (length - i >= 8) {
    std::uint64_t x;
    std::memcpy(&x, in + i, 8);
    if (has_below_space(x) | has_zero(x ^ (ones * '"')) | has_zero(x ^ (ones * '\\')) |
        has_zero(x ^ (ones * 0x7F))) {
      break;
    }
    i += 8;
  }
  while (i < length && escapes.length[in[i]] == 0) ++i;
  return i;
}

}  // namespace

json_writer::~json_writer() { std::free(buffer_); }

void json_writer::release() {
  std::free(buffer_);
  buffer_ = nullptr;
  capacity_ = 0;
  length_ = 0;
  state_ = 0;
}

std::string json_writer::text() const { return std::string(buffer_ ? buffer_ : "", length_); }

// Grows to length + more, at least 64 bytes, and then by half again, so that a long run of
// small writes reallocates only logarithmically often.
void json_writer::grow(std::uint32_t more) {
  std::uint64_t wanted = static_cast<std::uint64_t>(length_) + more;
  if (wanted < 64) {
    wanted = 64;
  } else {
    wanted = wanted * 3 / 2;
  }
  if (wanted > UINT32_MAX) {
    wanted = static_cast<std::uint64_t>(length_) + more;
    if (wanted > UINT32_MAX) throw std::length_error("json_writer: text too long");
  }
  void* grown = std::realloc(buffer_, static_cast<std::size_t>(wanted));
  if (grown == nullptr) throw std::bad_alloc();
  buffer_ = static_cast<char*>(grown);
  capacity_ = static_cast<std::uint32_t>(wanted);
}

void json_writer::expect(std::size_t more) {
  if (more > UINT32_MAX) throw std::length_error("json_writer: text too long");
  reserve(static_cast<std::uint32_t>(more));
}

void json_writer::dynamic_key(const char* bytes, std::uint32_t length) {
  separator();
  write_escaped(bytes, length);
  state_ = 1;
}

void json_writer::string(const char* bytes, std::uint32_t length) {
  separator();
  write_escaped(bytes, length);
  state_ = 2;
}

void json_writer::string(const char* value) {
  string(value, value ? static_cast<std::uint32_t>(std::strlen(value)) : 0);
}

namespace {

// The number of leading units of [first, last) that are printable ASCII needing no escape,
// counted eight at a time; the rest is left to the general path.
std::size_t plain_ascii_prefix(const char16_t* first, const char16_t* last, char* out) {
  using unit_vector = std::uint16_t __attribute__((vector_size(16)));
  using mask_vector = std::int16_t __attribute__((vector_size(16)));
  using narrow_vector = std::uint8_t __attribute__((vector_size(8)));
  const char16_t* p = first;
  while (last - p >= 8) {
    unit_vector v;
    std::memcpy(&v, p, sizeof v);
    const mask_vector stop = (v < std::uint16_t{0x20}) | (v > std::uint16_t{0x7E}) |
                             (v == std::uint16_t{u'"'}) | (v == std::uint16_t{u'\\'});
    std::uint64_t halves[2];
    std::memcpy(halves, &stop, sizeof halves);
    if ((halves[0] | halves[1]) != 0) break;
    const narrow_vector bytes = __builtin_convertvector(v, narrow_vector);
    std::memcpy(out, &bytes, sizeof bytes);
    out += 8;
    p += 8;
  }
  return static_cast<std::size_t>(p - first);
}

}  // namespace

void json_writer::string_utf16(const char16_t* first, const char16_t* last) {
  begin_string();
  string_part_utf16(first, last);
  end_string();
}

std::uint32_t json_writer::begin_string() {
  separator();
  reserve(1);
  const std::uint32_t at = length_;
  buffer_[length_++] = '"';
  return at;
}

void json_writer::string_part_utf16(const char16_t* first, const char16_t* last) {
  if (first == last) return;
  const auto units = static_cast<std::uint64_t>(last - first);
  // Three bytes a unit at most, and the closing quote.
  if (3 * units + 1 > UINT32_MAX - static_cast<std::uint64_t>(length_)) {
    throw std::length_error("json_writer: text too long");
  }
  reserve(static_cast<std::uint32_t>(3 * units + 1));
  // One pass for the common case: printable ASCII is narrowed straight into place.
  const std::size_t plain = plain_ascii_prefix(first, last, buffer_ + length_);
  length_ += static_cast<std::uint32_t>(plain);
  first += plain;
  if (first == last) return;
  // The rest is encoded in place; most pieces need no escape and are done then.
  const std::uint32_t begin = length_;
  const std::uint32_t end =
      static_cast<std::uint32_t>(encode_utf8(first, last, buffer_ + begin) - buffer_);
  const auto* in = reinterpret_cast<const unsigned char*>(buffer_);
  if (skip_plain(in, begin, end) == end) {
    length_ = end;
  } else {
    // Rare: take the encoded bytes out and write them through the escaping path.
    const std::string encoded(buffer_ + begin, end - begin);
    length_ = begin;
    append_escaped(encoded.data(), static_cast<std::uint32_t>(encoded.size()));
  }
}

void json_writer::end_string() { put('"', 2); }

void json_writer::insert(std::uint32_t at, std::string_view bytes) {
  if (bytes.size() > UINT32_MAX - length_) throw std::length_error("json_writer: text too long");
  const auto count = static_cast<std::uint32_t>(bytes.size());
  reserve(count);
  std::memmove(buffer_ + at + count, buffer_ + at, length_ - at);
  std::memcpy(buffer_ + at, bytes.data(), count);
  length_ += count;
}

void json_writer::move_to(std::string& out) {
  out.append(buffer_ ? buffer_ : "", length_);
  length_ = 0;
}

void json_writer::integer(std::int64_t value) {
  separator();
  reserve(21);
  // Same digits as "%lld": optional minus sign, no padding.
  auto [end, ec] = std::to_chars(buffer_ + length_, buffer_ + length_ + 21, value);
  (void)ec;  // 21 bytes always hold a 64-bit integer
  length_ = static_cast<std::uint32_t>(end - buffer_);
  state_ = 2;
}

bool json_writer::integer_text(std::u16string_view digits) {
  const std::size_t count = digits.size();
  if (count == 0 || count > 18 || (digits[0] == u'0' && count > 1)) return false;
  for (const char16_t unit : digits) {
    if (unit < u'0' || unit > u'9') return false;
  }
  separator();
  reserve(static_cast<std::uint32_t>(count));
  for (const char16_t unit : digits) buffer_[length_++] = static_cast<char>(unit);
  state_ = 2;
  return true;
}

void json_writer::write_escaped(const char* bytes, std::uint32_t length) {
  if (length > UINT32_MAX - 2) throw std::length_error("json_writer: text too long");
  reserve(length + 2);
  buffer_[length_++] = '"';
  append_escaped(bytes, length);
  buffer_[length_++] = '"';
}

// Runs of bytes that need no escape are copied in one piece; at each escape the buffer is made
// large enough for the escape, the rest of the input and a closing quote.
void json_writer::append_escaped(const char* bytes, std::uint32_t length) {
  if (length > UINT32_MAX - 1) throw std::length_error("json_writer: text too long");
  reserve(length + 1);
  const auto* in = reinterpret_cast<const unsigned char*>(bytes);
  std::uint32_t i = 0;
  while (i < length) {
    const std::uint32_t run = skip_plain(in, i, length);
    if (run > i) {
      std::memcpy(buffer_ + length_, in + i, run - i);
      length_ += run - i;
      i = run;
      if (i == length) break;
    }
    const unsigned char b = in[i];
    const std::uint32_t escape_length = escapes.length[b];
    // The escape, the bytes still to come and the closing quote.
    const std::uint64_t room = static_cast<std::uint64_t>(escape_length) + (length - i - 1) + 1;
    if (room > UINT32_MAX) throw std::length_error("json_writer: text too long");
    reserve(static_cast<std::uint32_t>(room));
    std::memcpy(buffer_ + length_, escapes.text[b], escape_length);
    length_ += escape_length;
    ++i;
  }
}

}  // namespace ombrix
