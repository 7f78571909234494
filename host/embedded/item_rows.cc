#include "host/embedded/item_rows.h"

#include <bit>
#include <optional>
#include <utility>

#include "host/embedded/account_schema.h"
#include "host/host_errors.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/store_checks.h"

namespace ombrix {
namespace {

// Large texts are bound as zero bytes and written in afterwards (fill_units): bound whole,
// SQLite would build the row in memory, a second copy of the text.
void bind_units(statement_use& q, int index, std::string_view units) {
  if (units.size() >= piecewise_units_bytes) {
    q.bind_zeroblob(index, units.size());
  } else {
    q.bind_blob(index, units);
  }
}

void fill_units(sqlite_connection& c, std::int64_t body, std::string_view units) {
  if (units.size() >= piecewise_units_bytes) c.write_blob("bodies", "units", body, units);
}

void set_item_size(sqlite_connection& c, const section_row& s, const std::string& id_key,
                   std::int64_t size) {
  statement_use q = prepare(c, account_statement::update_size);
  q.bind(1, s.id);
  q.bind_blob(2, id_key);
  q.bind(3, size);
  q.run();
}

void insert_item_row(sqlite_connection& c, const section_row& s, const std::string& id_key,
                     std::int64_t size, std::int64_t body) {
  statement_use q = prepare(c, account_statement::insert_item);
  q.bind(1, s.id);
  q.bind_blob(2, id_key);
  q.bind(3, size);
  q.bind(4, body);
  q.run();
}

}  // namespace

void check_writable(sqlite_connection& c, const section_row& s, const text& file, const text& id,
                    const std::string& id_key) {
  if (names_data_section(c, s, id_key)) section_not_writable(file, id);
}

void check_removable(sqlite_connection& c, const section_row& s, const account_names& names,
                     const text& file, const text& id, const std::string& id_key) {
  if (is_master_dictionary(s, names) && names_file(c, id_key)) not_removable(file, id, true);
  if (names_data_section(c, s, id_key)) not_removable(file, id, false);
}

void delete_item_row(sqlite_connection& c, const section_row& s, const std::string& id_key,
                     std::int64_t body) {
  {
    statement_use q = prepare(c, account_statement::delete_item);
    q.bind(1, s.id);
    q.bind_blob(2, id_key);
    q.run();
  }
  statement_use q = prepare(c, account_statement::delete_body);
  q.bind(1, body);
  q.run();
}

std::optional<item_row_ref> find_item_row(sqlite_connection& c, const section_row& s,
                                          const std::string& id_key) {
  statement_use q = prepare(c, account_statement::find_item);
  q.bind(1, s.id);
  q.bind_blob(2, id_key);
  if (!q.step()) return std::nullopt;
  return item_row_ref{q.column_int64(0), q.column_int64(1)};
}

void put_item(sqlite_connection& c, const section_row& s, const text& file, const text& id,
              const std::string& id_key, std::string_view units, std::int64_t size,
              put_mode mode) {
  check_writable(c, s, file, id, id_key);
  const std::optional<item_row_ref> existing = find_item_row(c, s, id_key);
  if (existing) {
    if (mode == put_mode::create) item_exists(file, id);
    // The items row is updated on every write, also at the same size: its triggers move the
    // modification time and the change generation.
    set_item_size(c, s, id_key, size);
    {
      statement_use q = prepare(c, account_statement::update_body);
      q.bind(1, existing->body);
      bind_units(q, 2, units);
      q.run();
    }
    fill_units(c, existing->body, units);
    return;
  }
  {
    statement_use q = prepare(c, account_statement::insert_body);
    bind_units(q, 1, units);
    q.run();
  }
  const std::int64_t body = c.last_insert_rowid();
  fill_units(c, body, units);
  insert_item_row(c, s, id_key, size, body);
}

void put_large_item(sqlite_connection& c, const section_row& s, const text& file, const text& id,
                    const std::string& id_key, std::size_t bytes, put_mode mode,
                    const std::function<std::int64_t(std::int64_t body)>& fill) {
  check_writable(c, s, file, id, id_key);
  const std::optional<item_row_ref> existing = find_item_row(c, s, id_key);
  if (existing) {
    if (mode == put_mode::create) item_exists(file, id);
    {
      statement_use q = prepare(c, account_statement::update_body);
      q.bind(1, existing->body);
      q.bind_zeroblob(2, bytes);
      q.run();
    }
    const std::int64_t size = fill(existing->body);
    // Always: the row's triggers move the change generation and the modification time.
    set_item_size(c, s, id_key, size);
    return;
  }
  {
    statement_use q = prepare(c, account_statement::insert_body);
    q.bind_zeroblob(1, bytes);
    q.run();
  }
  const std::int64_t body = c.last_insert_rowid();
  const std::int64_t size = fill(body);
  insert_item_row(c, s, id_key, size, body);
}

text read_large_text(sqlite_connection& c, std::int64_t body, std::int64_t bytes) {
  text units;
  units.reserve(static_cast<std::size_t>(bytes) / 2);
  read_large_pieces(c, body, bytes, [&](std::u16string_view piece) { units.append(piece); });
  return units;
}

void read_large_pieces(sqlite_connection& c, std::int64_t body, std::int64_t bytes,
                       const std::function<void(std::u16string_view piece)>& take) {
  // Pieces are whole units (an even number of bytes) from a buffer aligned for them; an odd
  // last byte, which no stored text has, is dropped as decode_content drops it.
  const auto length = static_cast<std::size_t>(bytes) / 2 * 2;
  c.read_blob("bodies", "units", body, length, [&](std::string_view piece) {
    if constexpr (std::endian::native == std::endian::little) {
      take({reinterpret_cast<const char16_t*>(piece.data()), piece.size() / 2});
    } else {
      take(decode_content(piece));
    }
  });
}

}  // namespace ombrix
