// 16-bit text as it crosses to the host, the MultiValue marks, and the conversions between
// UTF-8 and 16-bit text. Pure functions; thread-safe.
#pragma once

#include <string>
#include <string_view>

namespace ombrix {

// A host text: 16-bit code units. A null text and an empty text are the same.
using text = std::u16string;

inline constexpr char16_t value_mark = u'\xF8FD';     // between values of an attribute
inline constexpr char16_t subvalue_mark = u'\xF8FC';  // between subvalues of a value

// Decodes UTF-8 into 16-bit units. Characters above U+FFFF become surrogate pairs; overlong
// forms are accepted. Throws std::range_error("bad conversion") on malformed input.
text from_utf8(std::string_view utf8);

// Encodes 16-bit units as UTF-8. A valid surrogate pair becomes the 4-byte sequence of its
// character; a lone surrogate becomes three bytes. Never fails.
std::string to_utf8(std::u16string_view units);
std::string to_utf8(const char16_t* first, const char16_t* last);

// The same conversions appending to an existing result, so that a caller converting many pieces
// can reuse one buffer. append_from_utf8 leaves `out` as it was when it throws.
// REQUIRES: [first, last) is a valid range.
void append_from_utf8(text& out, std::string_view utf8);
void append_utf8(std::string& out, const char16_t* first, const char16_t* last);

// Writes the UTF-8 of [first, last) at `out` and returns the end of what it wrote.
// REQUIRES: `out` has room for 3 * (last - first) bytes.
char* encode_utf8(const char16_t* first, const char16_t* last, char* out);
// The same up to the first CR, value mark or subvalue mark: returns that unit's position (or
// `last`) and leaves `out` after the bytes written.
const char16_t* encode_utf8_to_mark(const char16_t* first, const char16_t* last, char*& out);

// UTF-8 to 16-bit text that never throws: malformed bytes become U+FFFD. For texts of the system
// itself that are UTF-8 (database messages, paths).
text from_utf8_lenient(std::string_view utf8);

// Conversions in the platform's default 8-bit code page (platform/code_page.h), used for the
// server text, the login properties and diagnostic descriptions. Where that code page is UTF-8
// they never throw (decoding as from_utf8_lenient); where the platform converts, its failure
// throws _com_error with the platform's error number in facility 7 (0x8007xxxx).
text from_default_codepage(std::string_view narrow);
std::string to_default_codepage(std::u16string_view units);

}  // namespace ombrix
