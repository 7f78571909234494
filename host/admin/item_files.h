// The text-file form of an item that the admin tool imports and exports. Pure functions;
// thread-safe.
//
// A file's lines (ended by LF or CR LF) are the item's attributes; U+F8FD and U+F8FC written in
// UTF-8 are the value and subvalue marks. A line end at the very end of the file ends the last
// line and adds no empty attribute.
#pragma once

#include <string>
#include <string_view>

#include "host/text.h"

namespace ombrix {

// The item text (attributes joined by CR LF) of a file's bytes. Throws std::range_error
// ("bad conversion") when the bytes are not UTF-8.
text item_from_text_file(std::string_view bytes);

// The file bytes of an item text: each attribute in UTF-8 followed by LF; the empty item gives
// the empty file.
std::string text_file_from_item(std::u16string_view item);

}  // namespace ombrix
