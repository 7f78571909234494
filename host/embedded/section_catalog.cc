#include "host/embedded/section_catalog.h"

#include <utility>

#include "host/embedded/account_schema.h"
#include "host/embedded/store_checks.h"
#include "host/host_errors.h"

namespace ombrix {

std::optional<section_row> find_section(sqlite_connection& c, const std::string& host_key) {
  statement_use q = prepare(c, account_statement::find_section);
  q.bind_blob(1, host_key);
  if (!q.step()) return std::nullopt;
  section_row row;
  row.id = q.column_int64(0);
  row.kind = q.column_int64(1);
  row.host_key = host_key;
  row.file_key = std::string(q.column_blob(2));
  return row;
}

section_row require_section(sqlite_connection& c, const account_names& names, const text& file,
                            const std::string& host_key) {
  std::optional<section_row> row = find_section(c, host_key);
  if (!row) file_not_found(names.account, file);
  return std::move(*row);
}

bool is_master_dictionary(const section_row& s, const account_names& names) {
  return s.kind == data_kind && s.host_key == names.md_key;
}

bool names_file(sqlite_connection& c, const std::string& id_key) {
  statement_use q = prepare(c, account_statement::names_file);
  q.bind_blob(1, id_key);
  return q.step();
}

bool names_data_section(sqlite_connection& c, const section_row& s, const std::string& id_key) {
  if (s.kind != dictionary_kind) return false;
  statement_use q = prepare(c, account_statement::names_section);
  q.bind_blob(1, s.file_key);
  q.bind_blob(2, id_key);
  return q.step();
}

void insert_section(sqlite_connection& c, const std::string& host_key, const std::string& file_key,
                    std::int64_t kind, const std::string& entry_key) {
  statement_use q = prepare(c, account_statement::insert_section);
  q.bind_blob(1, host_key);
  q.bind_blob(2, file_key);
  q.bind(3, kind);
  q.bind_blob(4, entry_key);
  q.run();
}

}  // namespace ombrix
