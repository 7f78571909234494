#include "base/text_helpers.h"

#include <stdexcept>

namespace ombrix {
namespace {

constexpr std::string_view trim_set = " \t\r\n";

// The white space that stream extraction skips before a number.
bool is_stream_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

char hex_to_char(std::string_view text) {
  if (text.empty()) return '\0';
  std::size_t position = 0;
  while (position < text.size() && is_stream_space(text[position])) ++position;
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  // Only the low 8 bits survive, so unsigned wrap-around keeps exactly what is needed.
  unsigned value = 0;
  bool any_digit = false;
  for (; position < text.size(); ++position) {
    const int digit = hex_digit_value(text[position]);
    if (digit < 0) break;
    value = value * 16 + static_cast<unsigned>(digit);
    any_digit = true;
  }
  if (!any_digit) throw std::runtime_error("hex to char failure");
  if (negative) value = 0u - value;
  return static_cast<char>(static_cast<unsigned char>(value & 0xFFu));
}

std::string url_decode(std::string_view text) {
  std::string decoded;
  decoded.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == '%') {
      decoded.push_back(hex_to_char(text.substr(i + 1, 2)));
      i += 3;
    } else {
      decoded.push_back(c == '+' ? ' ' : c);
      ++i;
    }
  }
  return decoded;
}

void trim(std::string& text) {
  text.erase(0, text.find_first_not_of(trim_set));  // npos erases everything
  const std::size_t last = text.find_last_not_of(trim_set);
  text.erase(last == std::string::npos ? 0 : last + 1);
}

void to_upper(std::string& text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
}

bool equals_ignore_case(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

}  // namespace ombrix
