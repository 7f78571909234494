#include "json/json_tokenizer.h"

#include <charconv>
#include <cstdlib>
#include <cstring>
#include <limits>

namespace ombrix {
namespace {

inline bool is_space(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

// Value of one hexadecimal digit of either case, or -1.
inline int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads four hexadecimal digits at p; false when one is not a digit.
inline bool read_hex4(const unsigned char* p, std::uint32_t& unit) {
  std::uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const int d = hex_value(p[i]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<std::uint32_t>(d);
  }
  unit = v;
  return true;
}

void append_utf8_value(std::string& out, std::uint32_t v) {
  if (v < 0x80) {
    out.push_back(static_cast<char>(v));
  } else if (v < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (v >> 6)));
    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
  } else if (v < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (v >> 12)));
    out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (v >> 18)));
    out.push_back(static_cast<char>(0x80 | ((v >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((v >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (v & 0x3F)));
  }
}

// Offset of the first quote, backslash or NUL at or after p, or `end`. Eight bytes are tested
// at a time: a byte equal to v shows as a zero byte of x ^ (v * ones).
inline std::uint32_t skip_plain(const unsigned char* in, std::uint32_t p, std::uint32_t end) {
  constexpr std::uint64_t ones = 0x0101010101010101ull;
  constexpr std::uint64_t highs = 0x8080808080808080ull;
  auto has_zero = [](std::uint64_t x) { return (x - ones) & ~x & highs; };
  while (end - p >= 8) {
    std::uint64_t x;
    std::memcpy(&x, in + p, 8);
    if (has_zero(x) | has_zero(x ^ (ones * '"')) | has_zero(x ^ (ones * '\\'))) break;
    p += 8;
  }
  while (p < end && in[p] != '"' && in[p] != '\\' && in[p] != 0) ++p;
  return p;
}

// Base-10 signed conversion of the digits at [p, end): optional sign, stops at the first byte
// that is not a digit, saturates at the 64-bit limits.
std::int64_t parse_integer(const char* p, const char* end) {
  bool negative = false;
  if (p != end && (*p == '+' || *p == '-')) {
    negative = *p == '-';
    ++p;
  }
  // Accumulate as a negative number, whose range is one larger.
  constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
  std::int64_t value = 0;
  for (; p != end && is_digit(static_cast<unsigned char>(*p)); ++p) {
    const int digit = *p - '0';
    if (value < (min + digit) / 10) {
      value = min;
      // Keep consuming digits: the result is already saturated.
      continue;
    }
    value = value * 10 - digit;
  }
  if (negative) return value;
  if (value == min) return std::numeric_limits<std::int64_t>::max();
  return -value;
}

// Decimal floating-point conversion of [p, end), stopping at the first byte that cannot
// continue the number; 0.0 when nothing converts.
double parse_real(const char* p, const char* end) {
  if (p != end && *p == '+') ++p;
  double value = 0.0;
  auto [stop, ec] = std::from_chars(p, end, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Overflow gives an infinity, underflow zero, as strtod does. The text is short enough
    // to copy only in this rare case.
    const std::string copy(p, static_cast<std::size_t>(stop - p));
    return std::strtod(copy.c_str(), nullptr);
  }
  if (ec != std::errc()) return 0.0;
  return value;
}

}  // namespace

void json_tokenizer::init(const char* text, std::uint32_t length) {
  text_ = text;
  length_ = text == nullptr ? 0 : length;
  position_ = 0;
  token_start_ = 0;
  token_length_ = 0;
  unescaped_.clear();
  escaped_ = false;
  decoded_ = false;
  kind_ = json_kind::end;
}

std::uint32_t json_tokenizer::next() {
  const auto* in = reinterpret_cast<const unsigned char*>(text_);
  while (position_ < length_) {
    const unsigned char c = in[position_++];
    switch (c) {
      case ' ':
      case '\t':
      case '\n':
      case '\r':
        continue;
      case '{':
        return kind_ = json_kind::begin_object;
      case '[':
        return kind_ = json_kind::begin_array;
      case '}':
        return kind_ = kind_ == json_kind::comma ? json_kind::error : json_kind::end_object;
      case ']':
        return kind_ = kind_ == json_kind::comma ? json_kind::error : json_kind::end_array;
      case 't':
      case 'f':
      case 'n': {
        const char* rest = c == 't' ? "rue" : c == 'f' ? "alse" : "ull";
        const std::uint32_t n = static_cast<std::uint32_t>(std::strlen(rest));
        if (length_ - position_ < n || std::memcmp(text_ + position_, rest, n) != 0) {
          return kind_ = json_kind::error;
        }
        position_ += n;
        return kind_ = c == 't'   ? json_kind::true_value
                       : c == 'f' ? json_kind::false_value
                                  : json_kind::null_value;
      }
      case '"':
        return kind_ = scan_string();
      case ',':
        if (kind_ == json_kind::begin_object || kind_ == json_kind::begin_array ||
            kind_ == json_kind::comma) {
          return kind_ = json_kind::error;
        }
        kind_ = json_kind::comma;
        continue;
      default:
        if (is_digit(c) || c == '+' || c == '-') return kind_ = scan_number();
        return kind_ = json_kind::error;
    }
  }
  return kind_ = json_kind::end;
}

// Scans a string whose opening quote has been read. Nothing is copied here: the token is the
// span between the quotes, and a string with escapes is decoded only when a caller asks for it
// (strings inside nested values are usually skipped). The escapes are checked now, so that a
// malformed one is an error whether or not the string is read.
std::uint32_t json_tokenizer::scan_string() {
  const auto* in = reinterpret_cast<const unsigned char*>(text_);
  token_start_ = position_;
  escaped_ = false;
  decoded_ = false;
  std::uint32_t p = position_;
  while (true) {
    p = skip_plain(in, p, length_);
    if (p == length_ || in[p] == 0) return json_kind::error;
    if (in[p] == '"') break;
    escaped_ = true;
    if (p + 1 == length_) return json_kind::error;
    const unsigned char e = in[p + 1];
    p += 2;
    if (e == 'u') {
      std::uint32_t unit = 0;
      if (length_ - p < 4 || !read_hex4(in + p, unit)) return json_kind::error;
      p += 4;
    } else if (e == 0) {
      return json_kind::error;
    }
  }
  token_length_ = p - token_start_;
  position_ = p + 1;  // past the closing quote
  while (position_ < length_ && is_space(in[position_])) ++position_;
  if (position_ == length_) return json_kind::string;
  switch (in[position_]) {
    case ':':
      ++position_;
      return json_kind::name;
    case ',':
      ++position_;
      return json_kind::string;
    case ']':
    case '}':
      return json_kind::string;
    default:
      return json_kind::error;
  }
}

// Decodes the current string's escapes into unescaped_. The escapes were checked by the scan.
void json_tokenizer::decode_escapes() const {
  const auto* in = reinterpret_cast<const unsigned char*>(text_);
  const std::uint32_t end = token_start_ + token_length_;
  unescaped_.clear();
  std::uint32_t p = token_start_;
  while (p < end) {
    const std::uint32_t run = skip_plain(in, p, end);
    unescaped_.append(text_ + p, run - p);
    p = run;
    if (p == end) break;
    const unsigned char e = in[p + 1];
    p += 2;
    switch (e) {
      case 'b':
        unescaped_.push_back('\b');
        break;
      case 'f':
        unescaped_.push_back('\f');
        break;
      case 'n':
        unescaped_.push_back('\n');
        break;
      case 'r':
        unescaped_.push_back('\r');
        break;
      case 't':
        unescaped_.push_back('\t');
        break;
      case 'u': {
        std::uint32_t unit = 0;
        read_hex4(in + p, unit);
        p += 4;
        if (unit >= 0xD800 && unit <= 0xDFFF) {
          // A high surrogate escape followed at once by a low one is one character; a surrogate
          // escape on its own cannot be written as UTF-8 and becomes U+FFFD.
          std::uint32_t low = 0;
          if (unit <= 0xDBFF && end - p >= 6 && in[p] == '\\' && in[p + 1] == 'u' &&
              read_hex4(in + p + 2, low) && low >= 0xDC00 && low <= 0xDFFF) {
            p += 6;
            append_utf8_value(unescaped_, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
          } else {
            unescaped_.append("\xEF\xBF\xBD");
          }
        } else {
          append_utf8_value(unescaped_, unit);
        }
        break;
      }
      default:
        unescaped_.push_back(static_cast<char>(e));
        break;
    }
  }
  decoded_ = true;
}

// Scans a number whose first byte ("+", "-" or a digit) has been read. Signs and exponents are
// only accepted after a ".", which makes the number real.
std::uint32_t json_tokenizer::scan_number() {
  const auto* in = reinterpret_cast<const unsigned char*>(text_);
  token_start_ = position_ - 1;
  escaped_ = false;
  decoded_ = false;
  std::uint32_t kind = json_kind::integer;
  std::uint32_t p = position_;
  for (; p < length_; ++p) {
    const unsigned char c = in[p];
    if (is_digit(c)) continue;
    if (c == '.') {
      kind = json_kind::real;
      continue;
    }
    if (c == '+' || c == '-' || c == 'e' || c == 'E') {
      if (kind != json_kind::real) return json_kind::error;
      continue;
    }
    break;
  }
  position_ = p;
  // The number's end must be seen inside the text; one that runs to the end is incomplete.
  if (p == length_) return json_kind::end;
  token_length_ = p - token_start_;
  if (token_length_ == 1 && !is_digit(in[token_start_])) return json_kind::error;
  return kind;
}

std::string json_tokenizer::string_value() const { return std::string(string_bytes()); }

std::string_view json_tokenizer::string_bytes() const {
  if (kind_ < json_kind::integer || kind_ > json_kind::name) return {};
  if (!escaped_) return std::string_view(text_ + token_start_, token_length_);
  if (!decoded_) decode_escapes();
  return unescaped_;
}

std::int64_t json_tokenizer::integer_value() const {
  if (kind_ == json_kind::true_value) return 1;
  if (kind_ < json_kind::integer || kind_ > json_kind::name) return 0;
  const std::string_view digits = string_bytes();
  return parse_integer(digits.data(), digits.data() + digits.size());
}

double json_tokenizer::real_value() const {
  if (kind_ == json_kind::true_value) return 1.0;
  if (kind_ < json_kind::integer || kind_ > json_kind::name) return 0.0;
  const std::string_view digits = string_bytes();
  return parse_real(digits.data(), digits.data() + digits.size());
}

}  // namespace ombrix
