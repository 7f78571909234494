#include "host/text.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "host/com_error.h"
#include "platform/code_page.h"

namespace ombrix {
namespace {

constexpr std::uint32_t max_code_point = 0x10FFFF;
constexpr char16_t replacement = u'\xFFFD';

// Continuation bytes after a lead byte (0 for a byte that cannot start a sequence) and the mask
// of the lead's own bits. Five- and six-byte forms are still decoded; their values either exceed
// U+10FFFF and are refused, or are overlong forms, which are accepted like all overlong forms.
struct lead_info {
  unsigned char continuations;
  unsigned char mask;
};

constexpr lead_info lead_of(unsigned char b) {
  if (b < 0x80) return {0, 0x7F};
  if (b < 0xC0) return {0, 0};  // a continuation byte where a character should start
  if (b < 0xE0) return {1, 0x1F};
  if (b < 0xF0) return {2, 0x0F};
  if (b < 0xF8) return {3, 0x07};
  if (b < 0xFC) return {4, 0x03};
  return {5, 0x03};
}

// Decodes one multi-byte sequence starting at in[i] (a byte >= 0x80). On success stores the
// value and the number of bytes used; on failure stores the number of bytes that belong to the
// broken sequence (at least 1) and returns false.
bool decode_sequence(const unsigned char* in, std::size_t size, std::size_t i,
                     std::uint32_t& value, std::size_t& used) {
  const unsigned char lead = in[i];
  const lead_info info = lead_of(lead);
  if (info.continuations == 0) {
    used = 1;
    return false;
  }
  std::uint32_t v = lead & info.mask;
  std::size_t k = 1;
  for (; k <= info.continuations; ++k) {
    if (i + k >= size || (in[i + k] & 0xC0) != 0x80) {
      used = k;
      return false;
    }
    v = (v << 6) | (in[i + k] & 0x3F);
  }
  used = k;
  if (v > max_code_point) return false;
  value = v;
  return true;
}

// Appends the units of one decoded value: one unit up to U+FFFF (surrogate values included),
// else a surrogate pair.
inline char16_t* put_units(char16_t* out, std::uint32_t v) {
  if (v < 0x10000) {
    *out++ = static_cast<char16_t>(v);
  } else {
    v -= 0x10000;
    *out++ = static_cast<char16_t>(0xD800 + (v >> 10));
    *out++ = static_cast<char16_t>(0xDC00 + (v & 0x3FF));
  }
  return out;
}

// Shared decoder: strict raises "bad conversion", lenient writes U+FFFD for each broken sequence.
template <bool strict>
void decode_utf8(std::string_view utf8, text& out) {
  const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
  const std::size_t size = utf8.size();
  const std::size_t base = out.size();
  // No sequence gives more units than it has bytes.
  out.resize(base + size);
  char16_t* const first = out.data() + base;
  char16_t* o = first;
  std::size_t i = 0;
  while (i < size) {
    // Eight ASCII bytes at a time.
    while (i + 8 <= size) {
      std::uint64_t chunk;
      std::memcpy(&chunk, in + i, 8);
      if (chunk & 0x8080808080808080ull) break;
      for (int k = 0; k < 8; ++k) o[k] = in[i + k];
      o += 8;
      i += 8;
    }
    if (i == size) break;
    const unsigned char b = in[i];
    if (b < 0x80) {
      *o++ = b;
      ++i;
      continue;
    }
    // Two- and three-byte forms always decode to a value below 0x10000 (overlong forms are
    // accepted), so only their continuation bytes need checking.
    if (b >= 0xC0 && b < 0xE0 && i + 1 < size && (in[i + 1] & 0xC0) == 0x80) {
      *o++ = static_cast<char16_t>(((b & 0x1F) << 6) | (in[i + 1] & 0x3F));
      i += 2;
      continue;
    }
    if (b >= 0xE0 && b < 0xF0 && i + 2 < size && (in[i + 1] & 0xC0) == 0x80 &&
        (in[i + 2] & 0xC0) == 0x80) {
      *o++ = static_cast<char16_t>(((b & 0x0F) << 12) | ((in[i + 1] & 0x3F) << 6) |
                                   (in[i + 2] & 0x3F));
      i += 3;
      continue;
    }
    std::uint32_t value = 0;
    std::size_t used = 0;
    if (decode_sequence(in, size, i, value, used)) {
      o = put_units(o, value);
    } else if constexpr (strict) {
      out.resize(base);
      throw std::range_error("bad conversion");
    } else {
      *o++ = replacement;
    }
    i += used;
  }
  out.resize(base + static_cast<std::size_t>(o - first));
}

inline bool is_high_surrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
inline bool is_low_surrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

}  // namespace

text from_utf8(std::string_view utf8) {
  text out;
  decode_utf8<true>(utf8, out);
  return out;
}

void append_from_utf8(text& out, std::string_view utf8) { decode_utf8<true>(utf8, out); }

namespace {

using unit_vector = std::uint16_t __attribute__((vector_size(16)));
using mask_vector = std::int16_t __attribute__((vector_size(16)));
using byte_vector = std::uint8_t __attribute__((vector_size(8)));

// The encoder; with stop_at_marks it ends before the first CR, value mark or subvalue mark.
template <bool stop_at_marks>
const char16_t* encode_units(const char16_t* first, const char16_t* last, unsigned char*& out) {
  unsigned char* o = out;
  const char16_t* p = first;
  while (p != last) {
    // Eight ASCII units at a time, narrowed in one vector step where the machine has vectors.
    while (last - p >= 8) {
      unit_vector v;
      std::memcpy(&v, p, sizeof v);
      mask_vector stop = (v & std::uint16_t{0xFF80}) != std::uint16_t{0};
      if constexpr (stop_at_marks) stop |= v == std::uint16_t{u'\r'};
      std::uint64_t halves[2];
      std::memcpy(halves, &stop, sizeof halves);
      if ((halves[0] | halves[1]) != 0) break;
      const byte_vector bytes = __builtin_convertvector(v, byte_vector);
      std::memcpy(o, &bytes, sizeof bytes);
      o += 8;
      p += 8;
    }
    // Four ASCII units at a time.
    while (last - p >= 4) {
      std::uint64_t chunk;
      std::memcpy(&chunk, p, 8);
      if (chunk & 0xFF80FF80FF80FF80ull) break;
      if constexpr (stop_at_marks) {
        // A CR lane shows as a zero lane of chunk ^ (CR * lanes).
        constexpr std::uint64_t lanes = 0x0001000100010001ull;
        const std::uint64_t x = chunk ^ (lanes * u'\r');
        if ((x - lanes) & ~x & 0x8000800080008000ull) break;
      }
      for (int k = 0; k < 4; ++k) o[k] = static_cast<unsigned char>(p[k]);
      o += 4;
      p += 4;
    }
    if (p == last) break;
    const char16_t u = *p;
    if (u < 0x80) {
      if constexpr (stop_at_marks) {
        if (u == u'\r') break;
      }
      *o++ = static_cast<unsigned char>(u);
      ++p;
    } else if (u < 0x800) {
      o[0] = static_cast<unsigned char>(0xC0 | (u >> 6));
      o[1] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      o += 2;
      ++p;
    } else if (is_high_surrogate(u) && p + 1 != last && is_low_surrogate(p[1])) {
      const std::uint32_t v = 0x10000 + ((static_cast<std::uint32_t>(u) - 0xD800) << 10) +
                              (static_cast<std::uint32_t>(p[1]) - 0xDC00);
      o[0] = static_cast<unsigned char>(0xF0 | (v >> 18));
      o[1] = static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F));
      o[2] = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
      o[3] = static_cast<unsigned char>(0x80 | (v & 0x3F));
      o += 4;
      p += 2;
    } else {
      if constexpr (stop_at_marks) {
        if (u == value_mark || u == subvalue_mark) break;
      }
      // Includes lone surrogates, written as the three bytes of their own value.
      o[0] = static_cast<unsigned char>(0xE0 | (u >> 12));
      o[1] = static_cast<unsigned char>(0x80 | ((u >> 6) & 0x3F));
      o[2] = static_cast<unsigned char>(0x80 | (u & 0x3F));
      o += 3;
      ++p;
    }
  }
  out = o;
  return p;
}

}  // namespace

char* encode_utf8(const char16_t* first, const char16_t* last, char* out) {
  auto* o = reinterpret_cast<unsigned char*>(out);
  encode_units<false>(first, last, o);
  return reinterpret_cast<char*>(o);
}

const char16_t* encode_utf8_to_mark(const char16_t* first, const char16_t* last, char*& out) {
  auto* o = reinterpret_cast<unsigned char*>(out);
  const char16_t* stop = encode_units<true>(first, last, o);
  out = reinterpret_cast<char*>(o);
  return stop;
}

void append_utf8(std::string& out, const char16_t* first, const char16_t* last) {
  if (first == last) return;
  const std::size_t base = out.size();
  // Three bytes per unit at most; a pair of units gives four.
  out.resize(base + 3 * static_cast<std::size_t>(last - first));
  char* const end = encode_utf8(first, last, out.data() + base);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

std::string to_utf8(const char16_t* first, const char16_t* last) {
  std::string out;
  if (first != nullptr && last != nullptr && first < last) append_utf8(out, first, last);
  return out;
}

std::string to_utf8(std::u16string_view units) {
  return to_utf8(units.data(), units.data() + units.size());
}

text from_utf8_lenient(std::string_view utf8) {
  text out;
  decode_utf8<false>(utf8, out);
  return out;
}

namespace {

// A platform error number as an HRESULT of facility 7.
[[noreturn]] void throw_platform_error(std::uint32_t error) {
  throw _com_error(error > 0 ? static_cast<hresult>(0x80070000u | (error & 0xFFFFu)) : e_fail);
}

}  // namespace

text from_default_codepage(std::string_view narrow) {
  if (platform::default_code_page_is_utf8()) return from_utf8_lenient(narrow);
  text out;
  if (const std::uint32_t error = platform::wide_from_default_code_page(narrow, out)) {
    throw_platform_error(error);
  }
  return out;
}

std::string to_default_codepage(std::u16string_view units) {
  if (platform::default_code_page_is_utf8()) return to_utf8(units);
  std::string out;
  if (const std::uint32_t error = platform::default_code_page_from_wide(units, out)) {
    throw_platform_error(error);
  }
  return out;
}

}  // namespace ombrix
