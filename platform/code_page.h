// Conversions in the platform's default 8-bit code page. On Windows that is the ANSI code page,
// converted with the system's calls; on POSIX systems it is UTF-8, which callers convert with
// their own UTF-8 code (default_code_page_is_utf8() is true there, and the two conversions below
// fail with EINVAL). Thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ombrix::platform {

// True when the default 8-bit code page is UTF-8.
bool default_code_page_is_utf8();

// Converts `narrow` in the default code page to 16-bit text in `wide`. Returns 0, or the
// platform's error number when the conversion fails (`wide` is then unspecified).
std::uint32_t wide_from_default_code_page(std::string_view narrow, std::u16string& wide);

// Converts 16-bit text to the default code page; characters it cannot hold become the code
// page's default character. Returns 0 or the platform's error number.
std::uint32_t default_code_page_from_wide(std::u16string_view wide, std::string& narrow);

// The same without substitutes: `exact` becomes false when some character has no form of its
// own in the code page (it would have become the default character or a look-alike), and
// `narrow` is then unspecified. Returns 0 or the platform's error number.
std::uint32_t default_code_page_from_wide_exact(std::u16string_view wide, std::string& narrow,
                                                bool& exact);

}  // namespace ombrix::platform
