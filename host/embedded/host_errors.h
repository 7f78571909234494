// The embedded host's error numbers and the _com_error values that carry them. Pure functions;
// thread-safe.
#pragma once

#include <string_view>

#include "host/com_error.h"
#include "host/text.h"

namespace ombrix {

// Host error numbers; a failure's HRESULT is host_error_code(number).
enum class host_error : int {
  file_not_found = 200,     // no such file (dictionary or data section) in the account
  account_not_found = 201,  // no such account, or not a valid account name
  item_not_found = 202,     // no such item in an existing file
  invalid_name = 203,       // empty file name or item id, or one holding CR, LF or a mark
  item_exists = 204,        // create_item (or COPY without overwrite) on an existing item
  unknown_command = 205,    // call_subroutine with a name or command the host does not know
  storage_failure = 206,    // the database cannot be read or written (disk full, damaged file)
  file_pointer = 207,       // refused: the item is the pointer of a file
};

// Throws _com_error(host_error_code(number), description).
[[noreturn]] void throw_host_error(host_error number, text description);

// A name as error descriptions show it: units below U+0020, DEL and the private-use marks
// U+F8F8 to U+F8FF appear as \uXXXX; names longer than 200 units are cut and end in "...".
text display_name(std::u16string_view name);

// Builds a description from pieces: literal 8-bit ASCII parts and 16-bit names, e.g.
// describe({u"Item '", display_name(id), u"' not found."}).
text describe(std::initializer_list<std::u16string_view> parts);

}  // namespace ombrix
