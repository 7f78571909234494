// The layout of a store in its PostgreSQL database and every statement the host runs on it,
// each derived from one enum. One database holds one store: the schema "ombrix" with a catalog
// of accounts and, for all accounts, their sections and items, keyed by catalog ids, so account
// names never become identifiers and nothing lives outside the database. Constants and pure
// functions; thread-safe.
//
// Names (file names, item ids, section entries) are bytea holding encode_name's UTF-8 bytes, so
// ORDER BY gives byte order; item texts are bytea of 16-bit units, low byte first
// (encode_content), lossless for any unit sequence.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ombrix {

inline constexpr std::int16_t pg_dictionary_kind = 1;
inline constexpr std::int16_t pg_data_kind = 2;

// A listing that finds more change rows than this folds them into the catalog.
inline constexpr std::int64_t pg_changes_to_fold = 64;

enum class pg_statement : std::size_t {
  find_account,
  insert_account,
  find_section,
  read_item,
  write_item,
  create_item,
  stat_item,
  read_generation,
  list_items,
  list_master_dictionary,
  list_sections,
  lock_item,
  find_item,
  delete_item,
  rename_item,
  names_file,
  names_section,
  insert_section,
  dump_items,
  account_sections,
  schema_present,
  fold_changes,
  list_times,
  set_time,
  count  // not a statement
};

// The SQL of `statement` and its parameters' type OIDs (count in *types).
const char* pg_statement_sql(pg_statement statement);
const unsigned* pg_statement_types(pg_statement statement, int* count);

// Creates the schema, its tables, indexes and the triggers keeping each account's change
// generation, where missing; safe to run from many processes at once (one advisory lock).
extern const char* const pg_schema_sql;

// The session settings of every connection: lock waits end after `lock_wait_milliseconds`
// (30 s in the server: host error 206, as the embedded store's busy time-out), no statement
// runs longer than a minute, commits are synchronous whatever the server's default.
std::string pg_session_settings(long lock_wait_milliseconds);

}  // namespace ombrix
