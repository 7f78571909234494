// The sections of an account database (dictionaries and data sections) and the questions the
// operations ask about them. Every function works inside the caller's transaction on one
// connection; throws sqlite_failure, and the host's _com_error where it says so.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "host/embedded/sqlite_db.h"
#include "host/text.h"

namespace ombrix {

// What the operations need to know about an account while they build descriptions.
struct account_names {
  const text& account;
  const text& md_name;
  const std::string& md_key;  // md_name as stored
};

// One row of the sections table.
struct section_row {
  std::int64_t id = 0;
  std::int64_t kind = 0;  // dictionary_kind or data_kind
  std::string host_key;   // the stored form of 'DICT F', 'F' or 'F,D'
  std::string file_key;   // the stored form of F
};

// The section stored as `host_key`, if there is one.
std::optional<section_row> find_section(sqlite_connection& c, const std::string& host_key);

// The section `file` (stored as `host_key`); 200 when there is none.
section_row require_section(sqlite_connection& c, const account_names& names, const text& file,
                            const std::string& host_key);

bool is_master_dictionary(const section_row& s, const account_names& names);

// True when `id_key` names a file of the account (an MD item that is a file pointer).
bool names_file(sqlite_connection& c, const std::string& id_key);

// True when `s` is a dictionary and `id_key` names a data section of its file.
bool names_data_section(sqlite_connection& c, const section_row& s, const std::string& id_key);

// Adds a row to the sections table. REQUIRES: an open write transaction.
void insert_section(sqlite_connection& c, const std::string& host_key, const std::string& file_key,
                    std::int64_t kind, const std::string& entry_key);

}  // namespace ombrix
