// The text-file form of an item: what the admin tool imports and exports and what the mount
// client shows as a file's content, and the file names of ids. Pure functions;
// thread-safe.
//
// A file's lines (ended by LF or CR LF) are the item's attributes; U+F8FD and U+F8FC written in
// UTF-8 are the value and subvalue marks. A line end at the very end of the file ends the last
// line and adds no empty attribute.
//
// What that form cannot hold is escaped, and only then, so every other item exports as plain
// lines. An item with an LF inside an attribute or a CR at the end of one (or whose first line
// would read as the escape line) is written as the line "%ombrix-escaped" followed by its
// attributes with "%", CR and LF written as %25, %0D and %0A. An id that is no usable file name (empty, "." or "..",
// holding "/", "\", NUL or another control character, or starting with "%") is written as "%"
// followed by the id with those characters, "." and "%" as %XX. Import reverses both.
#pragma once

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

#include "host/text.h"

namespace ombrix {

// The failure of an escaped file in which a "%" is not followed by two hexadecimal digits;
// what() names the escape and its line, as in "'%zz' in line 3".
struct malformed_escape : std::invalid_argument {
  using std::invalid_argument::invalid_argument;
};

// The item text (attributes joined by CR LF) of a file's bytes. Throws std::range_error
// ("bad conversion") when the bytes are not UTF-8, malformed_escape for a bad escape.
text item_from_text_file(std::string_view bytes);

// The file bytes of an item text: each attribute in UTF-8 followed by LF; the empty item gives
// the empty file.
std::string text_file_from_item(std::u16string_view item);

// The file name an item id (UTF-8) is exported under.
std::string file_name_of_id(std::string_view id);

// The id (UTF-8) a file name imports as; nothing when a name that starts with "%" holds a
// malformed escape.
std::optional<std::string> id_of_file_name(std::string_view name);

}  // namespace ombrix
