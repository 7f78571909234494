#include "host/pg/pg_account.h"

#include <optional>
#include <utility>

#include "host/embedded/file_sections.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/store_checks.h"
#include "host/host_errors.h"

namespace ombrix {

// One row of the sections table.
struct pg_section {
  std::int64_t id = 0;
  std::int16_t kind = 0;
  std::string host_key;  // the stored form of 'DICT F', 'F' or 'F,D'
  std::string file_key;  // the stored form of F
};

namespace {
// The stored forms of a file name and an item id, after both are checked: the opening of every
// single-item operation. (Members, not a structured binding: the operations' lambdas capture
// them, which not every compiler of the project allows for bindings.)
struct checked_keys {
  checked_keys(const text& file, const text& id) {
    check_file_name(file);
    check_item_id(file, id);
    file_key = encode_name(file);
    id_key = encode_name(id);
  }
  std::string file_key;
  std::string id_key;
};

// A snapshot for the whole transaction: what a listing or a dump reads is one moment's state.
constexpr const char* snapshot_begin = "BEGIN ISOLATION LEVEL REPEATABLE READ READ ONLY";

}  // namespace

pg_account::pg_account(std::shared_ptr<pg_pool> pool, std::int32_t id, text name, text md_name)
    : pool_(std::move(pool)),
      id_(id),
      name_(std::move(name)),
      md_name_(std::move(md_name)),
      md_key_(encode_name(md_name_)) {}

pg_section pg_account::require_section(pg_connection& c, const text& file,
                                       const std::string& key) {
  pg_rows rows = c.run(pg_statement::find_section, pg_params().int32(id_).bytes(key));
  if (rows.count() == 0) file_not_found(name_, file);
  return pg_section{rows.int64(0, 0), rows.int16(0, 1), key, std::string(rows.bytes(0, 2))};
}

bool pg_account::is_master_dictionary(const pg_section& s) const {
  return s.kind == pg_data_kind && s.host_key == md_key_;
}

bool pg_account::names_file(pg_connection& c, std::string_view id_key) {
  return c.run(pg_statement::names_file, pg_params().int32(id_).bytes(id_key)).count() > 0;
}

bool pg_account::names_data_section(pg_connection& c, const pg_section& s,
                                    std::string_view id_key) {
  if (s.kind != pg_dictionary_kind) return false;
  return c.run(pg_statement::names_section,
               pg_params().int32(id_).bytes(s.file_key).bytes(id_key))
             .count() > 0;
}

text pg_account::read(const text& file, const text& id) {
  const checked_keys keys(file, id);
  return pool_->run(name_, true, [&](pg_connection& c) -> text {
    pg_rows rows = c.run(pg_statement::read_item,
                         pg_params().int32(id_).bytes(keys.file_key).bytes(keys.id_key));
    if (rows.count() == 0) file_not_found(name_, file);
    if (rows.is_null(0, 1)) {
      if (rows.boolean(0, 2)) section_is_no_item(file, id);
      item_not_found(file, id);
    }
    return decode_content(rows.bytes(0, 1));
  });
}

void pg_account::put(pg_connection& c, const text& file, const std::string& file_key,
                     const text& id, const std::string& id_key, std::string_view units,
                     std::int64_t size, bool create) {
  pg_rows rows = c.run(create ? pg_statement::create_item : pg_statement::write_item,
                       pg_params().int32(id_).bytes(file_key).bytes(id_key).int64(size).bytes(
                           units));
  if (rows.int64(0, 0) == 0) file_not_found(name_, file);
  if (rows.boolean(0, 1)) section_not_writable(file, id);
  if (rows.int64(0, 2) == 0) item_exists(file, id);
}

void pg_account::store(const text& file, const text& id, const text& content, bool create) {
  const checked_keys keys(file, id);
  std::string scratch;
  const std::string_view units = content_bytes(content, scratch);
  const std::int64_t size = utf8_size(content);
  // Replacing twice leaves what replacing once does: safe to run again on a new connection; a
  // create is not.
  pool_->run(name_, !create, [&](pg_connection& c) {
    put(c, file, keys.file_key, id, keys.id_key, units, size, create);
  });
}

void pg_account::write(const text& file, const text& id, const text& content) {
  store(file, id, content, false);
}

void pg_account::create_item(const text& file, const text& id, const text& content) {
  store(file, id, content, true);
}

void pg_account::remove(const text& file, const text& id) {
  const checked_keys keys(file, id);
  pool_->run(name_, false, [&](pg_connection& c) {
    pg_transaction t(c);
    const pg_section s = require_section(c, file, keys.file_key);
    if (is_master_dictionary(s) && names_file(c, keys.id_key)) not_removable(file, id, true);
    if (names_data_section(c, s, keys.id_key)) not_removable(file, id, false);
    if (c.run(pg_statement::delete_item, pg_params().int64(s.id).bytes(keys.id_key)).count() == 0) {
      item_not_found(file, id);
    }
    t.commit();
  });
}

text pg_account::stat(const text& file, const text& id) {
  const checked_keys keys(file, id);
  return pool_->run(name_, true, [&](pg_connection& c) -> text {
    pg_rows rows = c.run(
        pg_statement::stat_item,
        pg_params().int32(id_).bytes(keys.file_key).bytes(keys.id_key).bytes(md_key_));
    if (rows.count() == 0) file_not_found(name_, file);
    if (rows.boolean(0, 0)) return stat_text(directory_attribute, 0);
    if (rows.is_null(0, 1)) item_not_found(file, id);
    return stat_text(0, rows.int64(0, 1));
  });
}

void pg_account::visit_section(pg_connection& c, const pg_section& s, std::int32_t attribute,
                               std::int32_t max_count, const entry_visitor& visit) {
  const std::size_t limit = listing_limit(max_count);
  const auto wanted = [attribute](int attributes) { return listing_wants(attribute, attributes); };
  std::size_t count = 0;
  const auto emit = [&](std::string_view name_key, int attributes, std::int64_t size) {
    visit(name_key, attributes, size);
    ++count;
  };
  if (is_master_dictionary(s)) {
    pg_rows rows = c.run(pg_statement::list_master_dictionary,
                         pg_params().int64(s.id).int32(id_));
    for (int row = 0; row < rows.count() && count < limit; ++row) {
      const bool directory = rows.boolean(row, 2);
      const int attributes = directory ? directory_attribute : 0;
      if (!wanted(attributes)) continue;
      emit(rows.bytes(row, 0), attributes, directory ? 0 : rows.int64(row, 1));
    }
  } else if (s.kind == pg_dictionary_kind) {
    // Dictionary items and the file's data sections, merged in byte order of their names.
    pg_rows sections =
        c.run(pg_statement::list_sections, pg_params().int32(id_).bytes(s.file_key));
    int next_section = 0;
    const auto emit_section = [&] {
      if (wanted(directory_attribute) && count < limit) {
        emit(sections.bytes(next_section, 0), directory_attribute, 0);
      }
      ++next_section;
    };
    pg_rows items = c.run(pg_statement::list_items, pg_params().int64(s.id).null());
    for (int row = 0; row < items.count() && count < limit; ++row) {
      const std::string_view id = items.bytes(row, 0);
      while (next_section < sections.count() && sections.bytes(next_section, 0) < id) {
        emit_section();
      }
      if (next_section < sections.count() && sections.bytes(next_section, 0) == id) continue;
      if (wanted(0) && count < limit) emit(id, 0, items.int64(row, 1));
    }
    while (next_section < sections.count() && count < limit) emit_section();
  } else if (wanted(0)) {
    pg_params params;
    params.int64(s.id);
    if (max_count > 0) {
      params.int64(max_count);
    } else {
      params.null();
    }
    pg_rows rows = c.run(pg_statement::list_items, params);
    for (int row = 0; row < rows.count(); ++row) emit(rows.bytes(row, 0), 0, rows.int64(row, 1));
  }
}

std::vector<listing_entry> pg_account::entries(const text& file, std::int32_t attribute,
                                               std::int32_t max_count) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  std::vector<listing_entry> out;
  pool_->run(name_, true, [&](pg_connection& c) {
    out.clear();
    pg_transaction t(c, snapshot_begin);
    const pg_section s = require_section(c, file, file_key);
    visit_section(c, s, attribute, max_count,
                  [&](std::string_view name_key, int attributes, std::int64_t size) {
                    out.push_back({decode_name(name_key), attributes, size});
                  });
    t.commit();
  });
  return out;
}

text pg_account::list(const text& file, std::int32_t attribute, std::int32_t max_count) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  const std::shared_ptr<const text> entries =
      pool_->run(name_, true, [&](pg_connection& c) -> std::shared_ptr<const text> {
        // One statement, one snapshot: a listing kept for this generation is what the rows
        // of that moment give.
        {
          pg_rows head = c.run(pg_statement::read_generation,
                               pg_params().int32(id_).bytes(file_key));
          if (head.count() == 0 || head.is_null(0, 1)) file_not_found(name_, file);
          if (head.int64(0, 4) > pg_changes_to_fold) {
            c.run(pg_statement::fold_changes, pg_params().int32(id_));
          }
          const listing_cache::key listed{head.int64(0, 1), attribute, max_count};
          if (auto kept = listings_.find(listed, head.int64(0, 0))) return kept;
        }
        pg_transaction t(c, snapshot_begin);
        pg_rows head = c.run(pg_statement::read_generation,
                             pg_params().int32(id_).bytes(file_key));
        if (head.count() == 0 || head.is_null(0, 1)) file_not_found(name_, file);
        const std::int64_t generation = head.int64(0, 0);
        const pg_section s{head.int64(0, 1), head.int16(0, 2), file_key,
                           std::string(head.bytes(0, 3))};
        auto built = std::make_shared<text>();
        text& out = *built;
        visit_section(c, s, attribute, max_count,
                      [&](std::string_view name_key, int attributes, std::int64_t size) {
                        append_listing_entry(out, name_key, attributes, size);
                      });
        t.commit();
        listings_.store({s.id, attribute, max_count}, generation, built);
        return built;
      });
  return listing_text(file, *entries);
}

void pg_account::copy(const text& file, const text& from, const text& to, bool overwrite) {
  check_file_name(file);
  check_item_id(file, from);
  check_item_id(file, to);
  const std::string file_key = encode_name(file);
  const std::string from_key = encode_name(from);
  const std::string to_key = encode_name(to);
  pool_->run(name_, false, [&](pg_connection& c) {
    pg_transaction t(c);
    const pg_section s = require_section(c, file, file_key);
    pg_rows source = c.run(pg_statement::lock_item, pg_params().int64(s.id).bytes(from_key));
    if (source.count() == 0) {
      if (names_data_section(c, s, from_key)) section_is_no_item(file, from);
      item_not_found(file, from);
    }
    if (from_key == to_key) {
      if (!overwrite) item_exists(file, to);
      return;  // copying an item onto itself changes nothing
    }
    put(c, file, file_key, to, to_key, source.bytes(0, 1), source.int64(0, 0), !overwrite);
    t.commit();
  });
}

void pg_account::move(const text& file, const text& from, const text& to, bool replace) {
  check_file_name(file);
  check_item_id(file, from);
  const std::string file_key = encode_name(file);
  const std::string from_key = encode_name(from);
  pool_->run(name_, false, [&](pg_connection& c) {
    pg_transaction t(c);
    const pg_section s = require_section(c, file, file_key);
    if (c.run(pg_statement::lock_item, pg_params().int64(s.id).bytes(from_key)).count() == 0) {
      if (names_data_section(c, s, from_key)) section_is_no_item(file, from);
      item_not_found(file, from);
    }
    // The refusals come in the order of the single calls a move stands for: the read of `from`
    // above, the creation of `to`, then the deletion of `from`. Nothing is kept of a refused one.
    check_item_id(file, to);
    const std::string to_key = encode_name(to);
    if (to_key == from_key) return;
    if (names_data_section(c, s, to_key)) section_not_writable(file, to);
    if (c.run(pg_statement::lock_item, pg_params().int64(s.id).bytes(to_key)).count() > 0) {
      if (!replace) item_exists(file, to);
      c.run(pg_statement::delete_item, pg_params().int64(s.id).bytes(to_key));
    }
    if (is_master_dictionary(s) && names_file(c, from_key)) not_removable(file, from, true);
    if (names_data_section(c, s, from_key)) not_removable(file, from, false);
    // A `to` made by another transaction since the look above fails this with a unique
    // violation, and the pool runs the move again.
    c.run(pg_statement::rename_item, pg_params().int64(s.id).bytes(from_key).bytes(to_key));
    t.commit();
  });
}

bool pg_account::change_if(const text& file, const text& id, const text* content,
                           const item_condition& condition) {
  const checked_keys keys(file, id);
  std::string scratch;
  const std::string_view units = content ? content_bytes(*content, scratch) : std::string_view{};
  const std::int64_t size = content ? utf8_size(*content) : 0;
  return pool_->run(name_, false, [&](pg_connection& c) {
    pg_transaction t(c);
    const pg_section s = require_section(c, file, keys.file_key);
    std::optional<text> current;
    {
      pg_rows row = c.run(pg_statement::lock_item, pg_params().int64(s.id).bytes(keys.id_key));
      if (row.count() > 0) current = decode_content(row.bytes(0, 1));
    }
    if (!condition.holds(current ? &*current : nullptr)) return false;
    if (content != nullptr && current) {
      put(c, file, keys.file_key, id, keys.id_key, units, size, false);
    } else if (content != nullptr) {
      // No row to hold: created only if still absent, else the check runs again on the row.
      pg_rows created = c.run(pg_statement::create_item, pg_params()
                                                         .int32(id_)
                                                         .bytes(keys.file_key)
                                                         .bytes(keys.id_key)
                                                         .int64(size)
                                                         .bytes(units));
      if (created.boolean(0, 1)) section_not_writable(file, id);
      if (created.int64(0, 2) == 0) throw pg_failure("40001", "the item was created meanwhile");
    } else {
      if (is_master_dictionary(s) && names_file(c, keys.id_key)) not_removable(file, id, true);
      if (names_data_section(c, s, keys.id_key)) not_removable(file, id, false);
      if (!current) item_not_found(file, id);
      c.run(pg_statement::delete_item, pg_params().int64(s.id).bytes(keys.id_key));
    }
    t.commit();
    return true;
  });
}

void pg_account::add_file(pg_connection& c, const text& file) {
  const std::string file_key = encode_name(file);
  const pg_section md = require_section(c, md_name_, md_key_);
  if (c.run(pg_statement::find_item, pg_params().int64(md.id).bytes(file_key)).count() > 0) {
    file_name_taken(md_name_, file);
  }
  c.run(pg_statement::insert_section, pg_params()
                                          .int32(id_)
                                          .bytes(encode_name(u"DICT " + file))
                                          .bytes(file_key)
                                          .int16(pg_dictionary_kind)
                                          .bytes(std::string_view()));
  c.run(pg_statement::insert_section,
        pg_params().int32(id_).bytes(file_key).bytes(file_key).int16(pg_data_kind).bytes(file_key));
  const text pointer = file_pointer_text(file);
  const std::string units = encode_content(pointer);
  put(c, md_name_, md_key_, file, file_key, units, utf8_size(pointer), true);
}

void pg_account::add_section(pg_connection& c, const text& file, const text& section) {
  const std::string file_key = encode_name(file);
  const std::string entry_key = encode_name(section);
  const text dictionary_name = u"DICT " + file;
  const pg_section dictionary = require_section(c, dictionary_name, encode_name(dictionary_name));
  if (names_data_section(c, dictionary, entry_key)) section_exists(file, section);
  if (c.run(pg_statement::find_item, pg_params().int64(dictionary.id).bytes(entry_key)).count() >
      0) {
    section_name_taken(dictionary_name, section);
  }
  c.run(pg_statement::insert_section, pg_params()
                                          .int32(id_)
                                          .bytes(encode_name(file + u"," + section))
                                          .bytes(file_key)
                                          .int16(pg_data_kind)
                                          .bytes(entry_key));
}

account_store::file_additions pg_account::create_file(const text& file,
                                                      const std::vector<text>& sections) {
  check_new_file_and_sections(file, sections);
  return pool_->run(name_, false, [&](pg_connection& c) {
    account_store::file_additions added;
    pg_transaction t(c);
    if (!names_file(c, encode_name(file))) {
      add_file(c, file);
      added.file = true;
    }
    const text dictionary_name = u"DICT " + file;
    const pg_section dictionary =
        require_section(c, dictionary_name, encode_name(dictionary_name));
    for (const text& section : sections) {
      if (names_data_section(c, dictionary, encode_name(section))) continue;
      add_section(c, file, section);
      added.sections.push_back(section);
    }
    t.commit();
    return added;
  });
}

std::size_t pg_account::import_items(const text& file,
                                     const std::vector<account_store::item>& items) {
  check_file_name(file);
  for (const auto& each : items) check_item_id(file, each.id);
  // The file and section that `file` names, in case they have to be made.
  const file_name_parts parts = split_file_name(file);
  const text& base = parts.base;
  const text& section_name = parts.section;
  const std::string file_key = encode_name(file);
  return pool_->run(name_, true, [&](pg_connection& c) {
    pg_transaction t(c);
    if (c.run(pg_statement::find_section, pg_params().int32(id_).bytes(file_key)).count() == 0) {
      check_new_file_name(base, u"file");
      if (!names_file(c, encode_name(base))) add_file(c, base);
      if (!section_name.empty()) {
        check_new_file_name(section_name, u"section");
        add_section(c, base, section_name);
      }
    }
    for (const auto& each : items) {
      const std::string units = encode_content(each.content);
      put(c, file, file_key, each.id, encode_name(each.id), units, utf8_size(each.content),
          false);
    }
    t.commit();
    return items.size();
  });
}

void pg_account::for_each_item(
    const text& file, const std::function<void(const text& id, const text& content)>& visit) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  pool_->run(name_, false, [&](pg_connection& c) {
    pg_transaction t(c, snapshot_begin);
    const pg_section s = require_section(c, file, file_key);
    pg_rows rows = c.run(pg_statement::dump_items, pg_params().int64(s.id));
    for (int row = 0; row < rows.count(); ++row) {
      visit(decode_name(rows.bytes(row, 0)), decode_content(rows.bytes(row, 1)));
    }
    t.commit();
  });
}

std::vector<std::pair<text, std::int64_t>> pg_account::item_times(const text& file) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  std::vector<std::pair<text, std::int64_t>> out;
  pool_->run(name_, false, [&](pg_connection& c) {
    out.clear();  // a run may be repeated on a new connection
    pg_transaction t(c, snapshot_begin);
    const pg_section s = require_section(c, file, file_key);
    pg_rows rows = c.run(pg_statement::list_times, pg_params().int64(s.id));
    for (int row = 0; row < rows.count(); ++row) {
      out.emplace_back(decode_name(rows.bytes(row, 0)), rows.int64(row, 1));
    }
    t.commit();
  });
  return out;
}

void pg_account::set_item_time(const text& file, const text& id, std::int64_t nanoseconds) {
  const checked_keys keys(file, id);
  pool_->run(name_, false, [&](pg_connection& c) {
    pg_transaction t(c);
    const pg_section s = require_section(c, file, keys.file_key);
    if (c.run(pg_statement::set_time, pg_params().int64(s.id).bytes(keys.id_key).int64(nanoseconds))
            .count() == 0) {
      item_not_found(file, id);
    }
    t.commit();
  });
}

void pg_account::fill(pg_connection& c, const account_image& image) {
  for (const account_image::file& file : image.files) {
    check_new_file_and_sections(file.name, file.sections);
    if (!names_file(c, encode_name(file.name))) add_file(c, file.name);
    const text dictionary_name = u"DICT " + file.name;
    const pg_section dictionary =
        require_section(c, dictionary_name, encode_name(dictionary_name));
    for (const text& section : file.sections) {
      if (!names_data_section(c, dictionary, encode_name(section))) add_section(c, file.name, section);
    }
  }
  for (const account_image::section& section : image.sections) {
    check_file_name(section.name);
    const std::string file_key = encode_name(section.name);
    require_section(c, section.name, file_key);
    for (const auto& [id, content] : section.items) {
      check_item_id(section.name, id);
      const std::string units = encode_content(content);
      put(c, section.name, file_key, id, encode_name(id), units, utf8_size(content), false);
    }
  }
}

}  // namespace ombrix
