// Windows: the ANSI code page (CP_ACP), converted with MultiByteToWideChar and
// WideCharToMultiByte.
#include "platform/code_page.h"

#include <windows.h>

#include <climits>

namespace ombrix::platform {

bool default_code_page_is_utf8() { return GetACP() == CP_UTF8; }

std::uint32_t wide_from_default_code_page(std::string_view narrow, std::u16string& wide) {
  wide.clear();
  if (narrow.empty()) return 0;  // the calls refuse an empty input
  if (narrow.size() > static_cast<std::size_t>(INT_MAX)) return ERROR_INVALID_PARAMETER;
  const int in_length = static_cast<int>(narrow.size());
  const int units = MultiByteToWideChar(CP_ACP, 0, narrow.data(), in_length, nullptr, 0);
  if (units <= 0) return GetLastError();
  wide.resize(static_cast<std::size_t>(units));
  if (MultiByteToWideChar(CP_ACP, 0, narrow.data(), in_length,
                          reinterpret_cast<wchar_t*>(wide.data()), units) != units) {
    return GetLastError();
  }
  return 0;
}

std::uint32_t default_code_page_from_wide(std::u16string_view wide, std::string& narrow) {
  narrow.clear();
  if (wide.empty()) return 0;
  if (wide.size() > static_cast<std::size_t>(INT_MAX)) return ERROR_INVALID_PARAMETER;
  const auto* in = reinterpret_cast<const wchar_t*>(wide.data());
  const int in_length = static_cast<int>(wide.size());
  const int bytes = WideCharToMultiByte(CP_ACP, 0, in, in_length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) return GetLastError();
  narrow.resize(static_cast<std::size_t>(bytes));
  if (WideCharToMultiByte(CP_ACP, 0, in, in_length, narrow.data(), bytes, nullptr, nullptr) !=
      bytes) {
    return GetLastError();
  }
  return 0;
}

std::uint32_t default_code_page_from_wide_exact(std::u16string_view wide, std::string& narrow,
                                                bool& exact) {
  exact = false;
  if (const std::uint32_t error = default_code_page_from_wide(wide, narrow)) return error;
  // A character without a form of its own comes back as something else: the default character
  // or a best-fit look-alike (a lone surrogate, under UTF-8, as U+FFFD).
  std::u16string back;
  if (const std::uint32_t error = wide_from_default_code_page(narrow, back)) return error;
  exact = back == wide;
  return 0;
}

}  // namespace ombrix::platform
