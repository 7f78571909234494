// Query-string and form decoding, and the small text helpers the HTTP layer shares.
// Pure functions (apart from the level-2 diagnostic lines); thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace ombrix {

// Appends one "QS_NAME=value\r\n" line per name=value pair of `query` to `environment`, in
// text order: NAME is the decoded, trimmed, upper-cased name (pairs whose name ends up empty
// are dropped), value the decoded value. Only "&" separates pairs.
// Returns false, leaving `environment` unchanged, when a kept name or value decodes to text
// holding CR or LF (it would break the line structure of the environment text).
// Throws std::runtime_error("hex to char failure") on a malformed % escape, also leaving
// `environment` unchanged.
[[nodiscard]] bool parse_query_string(std::string_view query, std::string& environment);

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
