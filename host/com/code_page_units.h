// Names in the form host components read from the command parameter text: the name's bytes in
// the default 8-bit code page, each byte as one 16-bit unit, and the way back. Pure functions;
// thread-safe. Windows builds only.
#pragma once

#include <optional>
#include <string_view>

#include "host/text.h"

namespace ombrix {

// The default-code-page bytes of `name`, each as one unit of 0x00 to 0xFF: under code page
// 1252 "é" is 0x00E9 and "€" 0x0080; under UTF-8 "€" is 0x00E2 0x0082 0x00AC. nullopt when the
// code page has no form of its own for some character of `name` (under UTF-8, a lone
// surrogate), so that the name is never sent as "?" or a look-alike. A platform failure of the
// conversion throws _com_error 0x8007xxxx.
std::optional<text> code_page_units(std::u16string_view name);

// The reverse: units taken as bytes in the default code page and converted to 16-bit text. A
// text holding a unit above 0xFF is not in this form (a caller that passes names as 16-bit text
// sent it) and is returned as it is. Throws as from_default_codepage.
text from_code_page_units(std::u16string_view units);

}  // namespace ombrix
