// POSIX systems: the default 8-bit code page is UTF-8, converted by the callers' own code.
#include "platform/code_page.h"

#include <cerrno>

namespace ombrix::platform {

bool default_code_page_is_utf8() { return true; }

std::uint32_t wide_from_default_code_page(std::string_view, std::u16string&) { return EINVAL; }

std::uint32_t default_code_page_from_wide(std::u16string_view, std::string&) { return EINVAL; }

std::uint32_t default_code_page_from_wide_exact(std::u16string_view, std::string&, bool& exact) {
  exact = false;
  return EINVAL;
}

}  // namespace ombrix::platform
