// Query-string and form decoding, and the small text helpers the HTTP layer shares.
// Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace ombrix {

// Appends one "QS_NAME=value\r\n" line per name=value pair of `query` to `environment`.
// Throws std::runtime_error("hex to char failure") on a malformed % escape.
void parse_query_string(std::string_view query, std::string& environment);

// Decodes %XX escapes and "+". Throws std::runtime_error like hex_to_char.
std::string url_decode(std::string_view text);

// One character from up to two hexadecimal digits; an empty text gives NUL.
// Throws std::runtime_error("hex to char failure") when no number can be read.
char hex_to_char(std::string_view text);

// Removes leading, then trailing, blanks, tabs, CRs and LFs in place.
void trim(std::string& text);
// Upper-cases the ASCII letters in place.
void to_upper(std::string& text);
// Same length and equal after lower-casing the ASCII letters.
bool equals_ignore_case(std::string_view a, std::string_view b);

}  // namespace ombrix
