// The name checks of the store's operations and the failures they share, each thrown as the
// host's _com_error with a description naming the object. Pure functions; thread-safe.
#pragma once

#include <string_view>

#include "host/text.h"

namespace ombrix {

// 203 unless `file` is a valid file name (not empty, no CR, LF or mark).
void check_file_name(const text& file);

// 203 unless `id` is a valid item id of `file`.
void check_item_id(const text& file, const text& id);

// 203 unless `name` may name a new file or section; `what` says which ("file", "section",
// "master dictionary").
void check_new_file_name(const text& name, std::u16string_view what);

// 202: item `id` is not in `file`.
[[noreturn]] void item_not_found(const text& file, const text& id);

// 202: `id` names a data section of the dictionary `file`, which is no item.
[[noreturn]] void section_is_no_item(const text& file, const text& id);

// 204: item `id` already exists in `file`.
[[noreturn]] void item_exists(const text& file, const text& id);

}  // namespace ombrix
