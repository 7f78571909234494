// Small ASCII text helpers shared by the HTTP and REST layers: URL decoding, trimming and
// letter case. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace ombrix {

// Decodes %XX escapes and "+". A "%" always consumes the (up to) two characters after it.
// Throws std::runtime_error like hex_to_char.
std::string url_decode(std::string_view text);

// One character from a hexadecimal number: leading white space skipped, a sign accepted,
// reading stops at the first non-hexadecimal character; the result is the low 8 bits.
// An empty text gives NUL. Throws std::runtime_error("hex to char failure") when no digit
// can be read.
char hex_to_char(std::string_view text);

// Removes leading, then trailing, blanks, tabs, CRs and LFs in place.
void trim(std::string& text);
// Upper-cases the ASCII letters in place.
void to_upper(std::string& text);
// Same length and equal after lower-casing the ASCII letters.
bool equals_ignore_case(std::string_view a, std::string_view b);

}  // namespace ombrix
