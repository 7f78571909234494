// The name checks of the store's operations and the failures they share, each thrown as the
// host's _com_error with a description naming the object. Pure functions; thread-safe.
#pragma once

#include <string_view>
#include <vector>

#include "host/text.h"

namespace ombrix {

// 203 unless `file` is a valid file name (not empty, no CR, LF or mark).
void check_file_name(const text& file);

// 203 unless `id` is a valid item id of `file`.
void check_item_id(const text& file, const text& id);

// 203 unless `name` may name a new file or section; `what` says which ("file", "section",
// "master dictionary").
void check_new_file_name(const text& name, std::u16string_view what);

// 203 unless `file` may name a new file and every one of `sections` a new data section of it
// (not `file` itself, none named twice).
void check_new_file_and_sections(const text& file, const std::vector<text>& sections);

// 202: item `id` is not in `file`.
[[noreturn]] void item_not_found(const text& file, const text& id);

// 202: `id` names a data section of the dictionary `file`, which is no item.
[[noreturn]] void section_is_no_item(const text& file, const text& id);

// 204: item `id` already exists in `file`.
[[noreturn]] void item_exists(const text& file, const text& id);

// 200: `file` is not a file (dictionary or data section) of `account`.
[[noreturn]] void file_not_found(const text& account, const text& file);

// 207: `id` names a data section of the dictionary `file`; no item may be written under it.
[[noreturn]] void section_not_writable(const text& file, const text& id);

// 207: `id` is the MD pointer of a file (`names_file`) or, in a dictionary, names one of its
// data sections; it cannot be deleted.
[[noreturn]] void not_removable(const text& file, const text& id, bool names_file);

// 204: the MD item `file` (for a new file) or the item `section` of `dictionary` (for a new
// data section) is in the way.
[[noreturn]] void file_name_taken(const text& md_name, const text& file);
[[noreturn]] void section_name_taken(const text& dictionary, const text& section);
// 204: the data section `section` of `file` exists.
[[noreturn]] void section_exists(const text& file, const text& section);

}  // namespace ombrix
