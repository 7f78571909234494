#include "host/embedded/account_store.h"

#include <algorithm>
#include <filesystem>
#include <optional>
#include <type_traits>
#include <utility>

#include "host/embedded/account_creation.h"
#include "host/embedded/account_location.h"
#include "host/embedded/account_schema.h"
#include "host/embedded/file_sections.h"
#include "host/host_errors.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/item_rows.h"
#include "host/embedded/section_catalog.h"
#include "host/embedded/store_checks.h"
#include "host/embedded/store_registry.h"

namespace ombrix {

account_store::account_store(std::string path, text name)
    : path_(std::move(path)), name_(std::move(name)), pool_(path_, name_, {}) {}

account_store::~account_store() = default;

std::shared_ptr<account_store> account_store::open(store_registry<account_store>& stores,
                                                   const std::string& root, const text& name) {
  if (!is_valid_account_name(name)) {
    throw_host_error(host_error::account_not_found,
                     describe({u"'", display_name(name), u"' is not a valid account name."}));
  }
  if (root.empty()) {
    throw_host_error(host_error::account_not_found,
                     describe({u"Account '", name,
                               u"' not found: there is no data root (set OMBRIX_DATA or HOME)."}));
  }
  const std::string path = account_path(root, name);
  // Accounts are never deleted by this host, so a store once opened stays valid.
  return stores.find_or_make(path, [&] {
    std::error_code error;
    if (!std::filesystem::exists(std::filesystem::symlink_status(path, error))) {
      (void)ensure_data_root(root, error);  // the data root appears on first use
      throw_host_error(host_error::account_not_found,
                       describe({u"Account '", name, u"' not found."}));
    }
    if (!is_plain_file(path)) {
      throw_host_error(host_error::account_not_found,
                       describe({u"Account '", name,
                                 u"' cannot be opened: its database is not a regular file."}));
    }
    std::shared_ptr<account_store> store(new account_store(path, name));
    store->load_master_dictionary();
    store->ensure_change_generation();
    store->ensure_item_times();
    return store;
  });
}

void account_store::create(const std::string& root, const text& name, const text& md_name) {
  create_account(root, name, md_name);
}

account_names account_store::names() const { return {name_, md_name_, md_key_}; }

template <typename Body>
auto account_store::with_section(bool write, const text& file, Body&& body) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  return pool_.run(write, [&](sqlite_connection& c) {
    transaction t(c, write);
    const section_row s = require_section(c, names(), file, file_key);
    if constexpr (std::is_void_v<decltype(body(c, s))>) {
      body(c, s);
      t.commit();
    } else {
      auto result = body(c, s);
      t.commit();
      return result;
    }
  });
}

void account_store::load_master_dictionary() {
  const std::optional<std::string> found = pool_.run(false, [&](sqlite_connection& c) {
    std::optional<std::string> md;
    try {
      statement_use q = prepare(c, account_statement::read_meta);
      if (q.step() && q.column_blob(1) == "1" && !q.column_blob(0).empty()) {
        md = std::string(q.column_blob(0));
      }
    } catch (const sqlite_failure& failure) {
      if (!failure.schema_mismatch()) throw;  // a database without our tables is foreign
    }
    return md;
  });
  if (!found) {
    throw_host_error(host_error::storage_failure,
                     describe({u"Storage failure in account '", name_,
                               u"': the database is not an account database of this host."}));
  }
  md_name_ = decode_name(*found);
  md_key_ = *found;
}

void account_store::ensure_change_generation() {
  try {
    pool_.run(true, [](sqlite_connection& c) {
      if (!read_change_generation(c)) add_change_generation(c);
    });
  } catch (const _com_error&) {
    // A database this process may not change (a read-only file): listings are read each time.
  }
}

void account_store::ensure_item_times() {
  try {
    has_times_ = pool_.run(true, [](sqlite_connection& c) {
      if (!item_times_present(c)) add_item_times(c);
      return item_times_present(c);
    });
  } catch (const _com_error&) {
    // A database this process may not change: it keeps times if it has them already.
    try {
      has_times_ = pool_.run(false, [](sqlite_connection& c) { return item_times_present(c); });
    } catch (const _com_error&) {
      has_times_ = false;
    }
  }
}

std::vector<std::pair<text, std::int64_t>> account_store::item_times(const text& file) {
  std::vector<std::pair<text, std::int64_t>> out;
  if (!has_times_) {
    check_file_name(file);
    return out;
  }
  with_section(false, file, [&](sqlite_connection& c, const section_row& s) {
    statement_use q = prepare(c, account_statement::list_times);
    q.bind(1, s.id);
    while (q.step()) out.emplace_back(decode_name(q.column_blob(0)), q.column_int64(1));
  });
  return out;
}

bool account_store::set_item_time(const text& file, const text& id, std::int64_t nanoseconds) {
  check_file_name(file);
  check_item_id(file, id);
  if (!has_times_) return false;
  const std::string id_key = encode_name(id);
  with_section(true, file, [&](sqlite_connection& c, const section_row& s) {
    if (!find_item_row(c, s, id_key)) item_not_found(file, id);
    statement_use q = prepare(c, account_statement::set_time);
    q.bind(1, s.id);
    q.bind_blob(2, id_key);
    q.bind(3, nanoseconds);
    q.run();
  });
  return true;
}

text account_store::read(const text& file, const text& id) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  return pool_.run(false, [&](sqlite_connection& c) -> text {
    std::optional<std::pair<std::int64_t, std::int64_t>> large;  // body, bytes
    {
      statement_use q = prepare(c, account_statement::read_item);
      q.bind_blob(1, file_key);
      q.bind_blob(2, id_key);
      if (q.step()) {
        const std::int64_t bytes = q.column_int64(1);
        if (bytes < static_cast<std::int64_t>(piecewise_units_bytes)) {
          return decode_content(q.column_blob(2));
        }
        large.emplace(q.column_int64(0), bytes);
      }
    }
    if (large) return read_large_text(c, large->first, large->second);
    const section_row s = require_section(c, names, file, file_key);
    if (names_data_section(c, s, id_key)) section_is_no_item(file, id);
    item_not_found(file, id);
  });
}

void account_store::read_pieces(const text& file, const text& id, item_text_sink& sink) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  pool_.run(false, [&](sqlite_connection& c) {
    const auto missing = [&]() {
      const section_row s = require_section(c, names, file, file_key);
      if (names_data_section(c, s, id_key)) section_is_no_item(file, id);
      item_not_found(file, id);
    };
    // Looks the item up; a small text is handed on from the row at once (true).
    std::int64_t body = 0;
    std::int64_t bytes = 0;
    const auto small_text = [&]() {
      statement_use q = prepare(c, account_statement::read_item);
      q.bind_blob(1, file_key);
      q.bind_blob(2, id_key);
      if (!q.step()) missing();
      body = q.column_int64(0);
      bytes = q.column_int64(1);
      if (bytes >= static_cast<std::int64_t>(piecewise_units_bytes)) return false;
      const text content = decode_content(q.column_blob(2));
      sink.begin(content.size());
      sink.piece(content);
      sink.end();
      return true;
    };
    // Most texts are small: read with their row outside an explicit transaction, as read does.
    if (small_text()) return;
    // A large one is looked up again in one snapshot with the change generation, so that a
    // rendering kept for that generation is made from exactly what these rows give.
    transaction t(c, false);
    const std::optional<std::int64_t> generation = read_change_generation(c);
    if (generation) {
      const std::shared_ptr<const std::string> kept = renderings_.find(file_key, id_key, *generation);
      if (kept && sink.reuse(kept)) {
        t.commit();
        return;
      }
    }
    if (small_text()) {
      t.commit();
      return;
    }
    sink.begin(static_cast<std::size_t>(bytes) / 2);
    read_large_pieces(c, body, bytes, [&](std::u16string_view piece) { sink.piece(piece); });
    sink.end();
    t.commit();
    if (generation) {
      renderings_.store(file_key, id_key, *generation,
                        sink.rendering(renderings_.max_rendering_bytes()));
    }
  });
}

// On little-endian machines the item's own 16-bit units are bound as the BLOB, without a copy.
void account_store::store_item(const text& file, const text& id, const text& content,
                               bool create) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string id_key = encode_name(id);
  std::string scratch;
  const std::string_view units = content_bytes(content, scratch);
  const std::int64_t size = utf8_size(content);
  with_section(true, file, [&](sqlite_connection& c, const section_row& s) {
    put_item(c, s, file, id, id_key, units, size, create ? put_mode::create : put_mode::replace);
  });
}

void account_store::write_pieces(const text& file, const text& id, item_text_source& source) {
  const std::size_t units = source.units();
  if (units * 2 < piecewise_units_bytes) {
    text content;
    content.reserve(units);
    source.produce([&](std::u16string_view piece) { content.append(piece); });
    store_item(file, id, content, false);
    return;
  }
  check_file_name(file);
  check_item_id(file, id);
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  pool_.run(true, [&](sqlite_connection& c) {
    transaction t(c, true);
    const section_row s = require_section(c, names, file, file_key);
    put_large_item(c, s, file, id, id_key, units * 2, put_mode::replace, [&](std::int64_t body) {
      std::int64_t size = 0;
      bool high_at_end = false;  // a surrogate pair across two pieces is one 4-byte character
      c.write_blob_pieces("bodies", "units", body, units * 2,
                          [&](const sqlite_connection::blob_bytes& put) {
                            source.produce([&](std::u16string_view piece) {
                              if (piece.empty()) return;
                              size += utf8_size(piece);
                              if (high_at_end && piece[0] >= 0xDC00 && piece[0] <= 0xDFFF) {
                                size -= 2;
                              }
                              high_at_end = piece.back() >= 0xD800 && piece.back() <= 0xDBFF;
                              std::string scratch;
                              put(content_bytes(piece, scratch));
                            });
                          });
      return size;
    });
    t.commit();
  });
}

void account_store::write(const text& file, const text& id, const text& content) {
  store_item(file, id, content, false);
}

void account_store::create_item(const text& file, const text& id, const text& content) {
  store_item(file, id, content, true);
}

void account_store::remove(const text& file, const text& id) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string id_key = encode_name(id);
  with_section(true, file, [&](sqlite_connection& c, const section_row& s) {
    check_removable(c, s, names(), file, id, id_key);
    const std::optional<item_row_ref> row = find_item_row(c, s, id_key);
    if (!row) item_not_found(file, id);
    delete_item_row(c, s, id_key, row->body);
  });
}

text account_store::stat(const text& file, const text& id) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string id_key = encode_name(id);
  return with_section(false, file, [&](sqlite_connection& c, const section_row& s) -> text {
    if ((is_master_dictionary(s, names()) && names_file(c, id_key)) ||
        names_data_section(c, s, id_key)) {
      return stat_text(directory_attribute, 0);
    }
    const std::optional<item_row_ref> row = find_item_row(c, s, id_key);
    if (!row) item_not_found(file, id);
    return stat_text(0, row->size);
  });
}

void account_store::copy(const text& file, const text& from, const text& to, bool overwrite) {
  check_file_name(file);
  check_item_id(file, from);
  check_item_id(file, to);
  const std::string from_key = encode_name(from);
  const std::string to_key = encode_name(to);
  with_section(true, file, [&](sqlite_connection& c, const section_row& s) {
    std::int64_t size = 0;
    std::string units;
    {
      statement_use q = prepare(c, account_statement::read_body);
      q.bind(1, s.id);
      q.bind_blob(2, from_key);
      if (!q.step()) {
        if (names_data_section(c, s, from_key)) section_is_no_item(file, from);
        item_not_found(file, from);
      }
      size = q.column_int64(0);
      units = std::string(q.column_blob(1));
    }
    if (from_key == to_key) {
      if (!overwrite) item_exists(file, to);
      return;  // copying an item onto itself changes nothing
    }
    put_item(c, s, file, to, to_key, units, size,
             overwrite ? put_mode::replace : put_mode::create);
  });
}

bool account_store::change_if(const text& file, const text& id, const text* content,
                              const item_condition& condition) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  std::string scratch;
  const std::string_view units = content ? content_bytes(*content, scratch) : std::string_view{};
  const std::int64_t size = content ? utf8_size(*content) : 0;
  return pool_.run(true, [&](sqlite_connection& c) {
    transaction t(c, true);
    const section_row s = require_section(c, names, file, file_key);
    std::optional<text> current;
    std::int64_t body = 0;
    {
      statement_use q = prepare(c, account_statement::read_body);
      q.bind(1, s.id);
      q.bind_blob(2, id_key);
      if (q.step()) current = decode_content(q.column_blob(1));
    }
    if (current) {
      if (const std::optional<item_row_ref> row = find_item_row(c, s, id_key)) body = row->body;
    }
    if (!condition.holds(current ? &*current : nullptr)) return false;
    if (content != nullptr) {
      put_item(c, s, file, id, id_key, units, size, put_mode::replace);
    } else {
      check_removable(c, s, names, file, id, id_key);
      if (!current) item_not_found(file, id);
      delete_item_row(c, s, id_key, body);
    }
    t.commit();
    return true;
  });
}

void account_store::move(const text& file, const text& from, const text& to, bool replace) {
  check_file_name(file);
  check_item_id(file, from);
  const std::string from_key = encode_name(from);
  with_section(true, file, [&](sqlite_connection& c, const section_row& s) {
    if (!find_item_row(c, s, from_key)) {
      if (names_data_section(c, s, from_key)) section_is_no_item(file, from);
      item_not_found(file, from);
    }
    // The refusals come in the order of the single calls a move stands for: the read of `from`
    // above, the creation of `to`, then the deletion of `from`. Nothing is kept of a refused one.
    check_item_id(file, to);
    const std::string to_key = encode_name(to);
    if (to_key == from_key) return;
    check_writable(c, s, file, to, to_key);
    if (const std::optional<item_row_ref> replaced = find_item_row(c, s, to_key)) {
      if (!replace) item_exists(file, to);
      delete_item_row(c, s, to_key, replaced->body);
    }
    check_removable(c, s, names(), file, from, from_key);
    statement_use q = prepare(c, account_statement::rename_item);
    q.bind(1, s.id);
    q.bind_blob(2, from_key);
    q.bind_blob(3, to_key);
    q.run();
  });
}

account_store::file_additions account_store::create_file(const text& file,
                                                         const std::vector<text>& sections) {
  check_new_file_and_sections(file, sections);
  const account_names names{name_, md_name_, md_key_};
  return pool_.run(true, [&](sqlite_connection& c) {
    file_additions added;
    transaction t(c, true);
    if (!names_file(c, encode_name(file))) {
      add_file(c, names, file);
      added.file = true;
    }
    const text dictionary_name = u"DICT " + file;
    const section_row dictionary =
        require_section(c, names, dictionary_name, encode_name(dictionary_name));
    for (const text& section : sections) {
      if (names_data_section(c, dictionary, encode_name(section))) continue;
      add_section(c, names, file, section);
      added.sections.push_back(section);
    }
    t.commit();
    return added;
  });
}

std::size_t account_store::import_items(const text& file, const std::vector<item>& items) {
  check_file_name(file);
  for (const item& each : items) check_item_id(file, each.id);
  // The file and section that `file` names, in case they have to be made.
  const file_name_parts parts = split_file_name(file);
  const text& base = parts.base;
  const text& section_name = parts.section;
  const std::string file_key = encode_name(file);
  const account_names names{name_, md_name_, md_key_};
  std::vector<std::pair<std::string, std::string>> encoded;  // id key, units
  encoded.reserve(items.size());
  for (const item& each : items) {
    encoded.emplace_back(encode_name(each.id), encode_content(each.content));
  }
  return pool_.run(true, [&](sqlite_connection& c) {
    transaction t(c, true);
    std::optional<section_row> s = find_section(c, file_key);
    if (!s) {
      check_new_file_name(base, u"file");
      if (!names_file(c, encode_name(base))) add_file(c, names, base);
      if (!section_name.empty()) {
        check_new_file_name(section_name, u"section");
        add_section(c, names, base, section_name);
      }
      s = require_section(c, names, file, file_key);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
      put_item(c, *s, file, items[i].id, encoded[i].first, encoded[i].second,
               utf8_size(items[i].content), put_mode::replace);
    }
    t.commit();
    return items.size();
  });
}

void account_store::for_each_item(
    const text& file, const std::function<void(const text& id, const text& content)>& visit) {
  with_section(false, file, [&](sqlite_connection& c, const section_row& s) {
    statement_use q = prepare(c, account_statement::dump_items);
    q.bind(1, s.id);
    while (q.step()) visit(decode_name(q.column_blob(0)), decode_content(q.column_blob(1)));
  });
}

std::string account_store::check_integrity() {
  return pool_.run(false, [&](sqlite_connection& c) {
    std::string findings;
    statement_use q = prepare(c, account_statement::integrity_check);
    while (q.step()) {
      if (!findings.empty()) findings += '\n';
      findings += q.column_blob(0);
    }
    return findings;
  });
}

void account_store::checkpoint() noexcept {
  try {
    pool_.run(false, [&](sqlite_connection& c) { c.execute("PRAGMA wal_checkpoint(PASSIVE)"); });
  } catch (...) {
    // A checkpoint is an optimisation; the log stays valid without it.
  }
}

}  // namespace ombrix
