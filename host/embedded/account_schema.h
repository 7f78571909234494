// The layout of an account database (format 1) and every statement the store runs on it, each in
// a statement slot of its own derived from one enum. Constants and free functions; thread-safe
// for distinct connections.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "host/embedded/sqlite_db.h"

namespace ombrix {

// Kinds of section rows.
inline constexpr std::int64_t dictionary_kind = 1;
inline constexpr std::int64_t data_kind = 2;

// Item texts from this size on are written into and read from their row piece by piece: bound
// or loaded whole, SQLite would hold a second copy of the text.
inline constexpr std::size_t piecewise_units_bytes = 1024 * 1024;

// Every statement of the store. The slot of each is first_user_slot plus its place here.
enum class account_statement : std::size_t {
  find_section,
  read_item,
  find_item,
  update_size,
  update_body,
  insert_body,
  insert_item,
  delete_item,
  delete_body,
  names_file,
  names_section,
  list_items,
  list_master_dictionary,
  list_sections,
  dump_items,
  read_body,
  insert_section,
  read_meta,
  insert_md_name,
  integrity_check,
  read_generation,
  read_generation_quickly,
  rename_item,
  read_times_present,
  has_time_column,
  list_times,
  set_time,
  count  // not a statement
};

// The SQL of `statement`.
const char* statement_sql(account_statement statement);

// One use of `statement` on `connection`, prepared on first use. Throws sqlite_failure.
statement_use prepare(sqlite_connection& connection, account_statement statement);

// Creates the tables of format 1 in an empty database, in one transaction, and then the change
// generation. Throws sqlite_failure.
void create_schema(sqlite_connection& connection);

// Adds the change generation (a row of `meta` and the triggers that bump it on every change to
// `items` and `sections`) where it is missing, in one write transaction. read_generation gives
// no row until it is complete. Throws sqlite_failure.
void add_change_generation(sqlite_connection& connection);

// Adds the modification times (the column items.mtime and the triggers that set it on every
// write) where they are missing, in one write transaction. Throws sqlite_failure.
void add_item_times(sqlite_connection& connection);

// Whether the database keeps modification times (column and triggers complete). Throws
// sqlite_failure.
bool item_times_present(sqlite_connection& connection);

// The change generation as the connection's current transaction sees it; nullopt for a database
// without a complete one. Its triggers are checked again only when the schema has changed since
// they were last found complete on this connection. Throws sqlite_failure.
std::optional<std::int64_t> read_change_generation(sqlite_connection& connection);

// Applies the per-connection settings; SQLite itself waits up to `busy_timeout_milliseconds` for
// another connection's lock before it reports busy. Throws sqlite_failure.
void configure_connection(sqlite_connection& connection, int busy_timeout_milliseconds);

}  // namespace ombrix
