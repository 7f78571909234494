// Host error numbers: what each means, the REST status it answers with, the text replies carry
// in "code", and the _com_error values that carry them. Every host (the embedded store, the COM
// components) numbers its failures this way; no other layer spells a number out. Pure functions;
// thread-safe.
#pragma once

#include <cstdint>
#include <optional>
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

// The number as replies carry it in "code" ("200" to "207").
constexpr std::string_view host_error_text(host_error number) {
  switch (number) {
    case host_error::file_not_found: return "200";
    case host_error::account_not_found: return "201";
    case host_error::item_not_found: return "202";
    case host_error::invalid_name: return "203";
    case host_error::item_exists: return "204";
    case host_error::unknown_command: return "205";
    case host_error::storage_failure: return "206";
    case host_error::file_pointer: return "207";
  }
  return {};
}

// The host error number an HRESULT of the interface facility carries (its low 16 bits); none
// for other codes.
constexpr std::optional<std::uint32_t> host_error_number(hresult code) {
  const auto bits = static_cast<std::uint32_t>(code);
  if ((bits & 0xFFFF0000u) != 0x80040000u) return std::nullopt;
  return bits & 0xFFFFu;
}

// The REST status of a host error: 404 when it says that a named file or item does not exist
// (200 to 203), else 500.
constexpr int host_error_status(std::uint32_t number) {
  return number >= static_cast<std::uint32_t>(host_error::file_not_found) &&
                 number <= static_cast<std::uint32_t>(host_error::invalid_name)
             ? 404
             : 500;
}

// Throws _com_error(host_error_code(number), description).
[[noreturn]] void throw_host_error(host_error number, text description);

// A name as error descriptions show it: units below U+0020, DEL and the private-use marks
// U+F8F8 to U+F8FF appear as \uXXXX; names longer than 200 units are cut and end in "...".
text display_name(std::u16string_view name);

// Builds a description from pieces: literal 8-bit ASCII parts and 16-bit names, e.g.
// describe({u"Item '", display_name(id), u"' not found."}).
text describe(std::initializer_list<std::u16string_view> parts);

}  // namespace ombrix
