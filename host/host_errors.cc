#include "host/host_errors.h"

#include <utility>

namespace ombrix {

void throw_host_error(host_error number, text description) {
  throw _com_error(host_error_code(static_cast<int>(number)), std::move(description));
}

text display_name(std::u16string_view name) {
  constexpr std::size_t longest = 200;
  static constexpr char16_t digits[] = u"0123456789ABCDEF";
  text out;
  out.reserve(name.size() < longest ? name.size() + 8 : longest + 8);
  std::size_t shown = 0;
  for (char16_t unit : name) {
    if (shown == longest) {
      out += u"...";
      break;
    }
    ++shown;
    if (unit < 0x20 || unit == 0x7F || (unit >= 0xF8F8 && unit <= 0xF8FF)) {
      out += u"\\u";
      for (int shift = 12; shift >= 0; shift -= 4) out.push_back(digits[(unit >> shift) & 0xF]);
    } else {
      out.push_back(unit);
    }
  }
  return out;
}

text describe(std::initializer_list<std::u16string_view> parts) {
  std::size_t length = 0;
  for (auto part : parts) length += part.size();
  text out;
  out.reserve(length);
  for (auto part : parts) out.append(part);
  return out;
}

}  // namespace ombrix
