// Item rows: storing one item in a section and reading a large text back piece by piece. Works
// inside the caller's transaction on one connection; throws sqlite_failure and the host's
// _com_error where it says so.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "host/embedded/section_catalog.h"
#include "host/embedded/sqlite_db.h"
#include "host/text.h"

namespace ombrix {

enum class put_mode { replace, create };

// Where an item row keeps its text and the text's UTF-8 size.
struct item_row_ref {
  std::int64_t body = 0;
  std::int64_t size = 0;
};

// The item row `id_key` of section `s`, if there is one. REQUIRES: a transaction on `c`.
std::optional<item_row_ref> find_item_row(sqlite_connection& c, const section_row& s,
                                          const std::string& id_key);

// Stores the item `id` (stored as `id_key`) of section `s` with the text `units` (encode_content
// layout) whose UTF-8 size is `size`. 204 for an existing item in create mode; 207 when `id`
// names a data section of the dictionary `s`. `file` names the section in descriptions.
// REQUIRES: an open write transaction on `c`.
void put_item(sqlite_connection& c, const section_row& s, const text& file, const text& id,
              const std::string& id_key, std::string_view units, std::int64_t size, put_mode mode);

// put_item for a large text of `bytes` bytes (REQUIRES: at least piecewise_units_bytes) that
// `fill` writes into bodies row `body` once the row is there (with write_blob_pieces), returning
// the text's UTF-8 size: the text is never whole in memory. Errors as put_item; exceptions of
// `fill` pass through (the caller's transaction then rolls everything back).
void put_large_item(sqlite_connection& c, const section_row& s, const text& file, const text& id,
                    const std::string& id_key, std::size_t bytes, put_mode mode,
                    const std::function<std::int64_t(std::int64_t body)>& fill);

// 207 when `id` (stored as `id_key`) names a data section of the dictionary `s`: no item may be
// written under that id. REQUIRES: a transaction on `c`.
void check_writable(sqlite_connection& c, const section_row& s, const text& file, const text& id,
                    const std::string& id_key);

// 207 when item `id` may not be deleted: the MD pointer of a file, or a dictionary's entry of one
// of its data sections. REQUIRES: a transaction on `c`.
void check_removable(sqlite_connection& c, const section_row& s, const account_names& names,
                     const text& file, const text& id, const std::string& id_key);

// Deletes the item row `id_key` of section `s` and its text, row `body`.
// REQUIRES: an open write transaction on `c`.
void delete_item_row(sqlite_connection& c, const section_row& s, const std::string& id_key,
                     std::int64_t body);

// The text of bodies row `body`, `bytes` long, read a piece at a time: loaded with the row,
// SQLite would hold a second copy of it while it is converted.
text read_large_text(sqlite_connection& c, std::int64_t body, std::int64_t bytes);

// The same text handed to `take` in pieces of at most 32 Ki units, in order; no more of it is
// held at once. Exceptions of `take` pass through.
void read_large_pieces(sqlite_connection& c, std::int64_t body, std::int64_t bytes,
                       const std::function<void(std::u16string_view piece)>& take);

}  // namespace ombrix
