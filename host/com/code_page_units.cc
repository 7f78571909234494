#include "host/com/code_page_units.h"

#include <windows.h>

#include <algorithm>
#include <string>

#include "host/com_error.h"
#include "platform/code_page.h"

namespace ombrix {
namespace {

bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// True when a surrogate of `units` is not part of a high-low pair: UTF-8 has no form for it.
bool has_lone_surrogate(std::u16string_view units) {
  for (std::size_t i = 0; i < units.size(); ++i) {
    if (is_high_surrogate(units[i]) && i + 1 < units.size() && is_low_surrogate(units[i + 1])) {
      ++i;
    } else if (is_high_surrogate(units[i]) || is_low_surrogate(units[i])) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<text> code_page_units(std::u16string_view name) {
  std::string bytes;
  if (platform::default_code_page_is_utf8()) {
    if (has_lone_surrogate(name)) return std::nullopt;
    bytes = to_utf8(name);
  } else {
    bool exact = false;
    if (const std::uint32_t error =
            platform::default_code_page_from_wide_exact(name, bytes, exact)) {
      throw _com_error(HRESULT_FROM_WIN32(error));
    }
    if (!exact) return std::nullopt;
  }
  text units;
  units.reserve(bytes.size());
  for (const char byte : bytes) units.push_back(static_cast<unsigned char>(byte));
  return units;
}

text from_code_page_units(std::u16string_view units) {
  if (std::any_of(units.begin(), units.end(), [](char16_t unit) { return unit > 0xFF; })) {
    return text(units);
  }
  std::string bytes;
  bytes.reserve(units.size());
  for (const char16_t unit : units) bytes.push_back(static_cast<char>(unit));
  return from_default_codepage(bytes);
}

}  // namespace ombrix
