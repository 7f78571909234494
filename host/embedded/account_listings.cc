// The listings of account_store: entries of the master dictionary, of a dictionary (its items
// and the file's data sections) and of a data section, read from the rows or, while the account
// is unchanged, taken from the listing cache.
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/embedded/account_schema.h"
#include "host/embedded/account_store.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/section_catalog.h"
#include "host/embedded/store_checks.h"

namespace ombrix {

void account_store::visit_entries(const text& file, std::int32_t attribute,
                                  std::int32_t max_count, const entry_visitor& visit) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  const account_names names{name_, md_name_, md_key_};
  pool_.run(false, [&](sqlite_connection& c) {
    transaction t(c, false);
    const section_row s = require_section(c, names, file, file_key);
    visit_section(c, s, attribute, max_count, visit);
    t.commit();
  });
}

void account_store::visit_section(sqlite_connection& c, const section_row& s,
                                  std::int32_t attribute, std::int32_t max_count,
                                  const entry_visitor& visit) {
  const account_names names{name_, md_name_, md_key_};
  const std::size_t limit = listing_limit(max_count);
  const auto wanted = [attribute](int attributes) { return listing_wants(attribute, attributes); };
  std::size_t count = 0;
  const auto emit = [&](std::string_view name_key, int attributes, std::int64_t size) {
    visit(name_key, attributes, size);
    ++count;
  };
  if (is_master_dictionary(s, names)) {
    statement_use q = prepare(c, account_statement::list_master_dictionary);
    q.bind(1, s.id);
    while (count < limit && q.step()) {
      const bool directory = q.column_int64(2) != 0;
      const int attributes = directory ? directory_attribute : 0;
      if (!wanted(attributes)) continue;
      emit(q.column_blob(0), attributes, directory ? 0 : q.column_int64(1));
    }
  } else if (s.kind == dictionary_kind) {
    // Dictionary items and the file's data sections, merged in byte order of their names.
    std::vector<std::string> sections;
    {
      statement_use q = prepare(c, account_statement::list_sections);
      q.bind_blob(1, s.file_key);
      while (q.step()) sections.emplace_back(q.column_blob(0));
    }
    auto next_section = sections.begin();
    const auto emit_section = [&] {
      if (wanted(directory_attribute) && count < limit) emit(*next_section, directory_attribute, 0);
      ++next_section;
    };
    statement_use q = prepare(c, account_statement::list_items);
    q.bind(1, s.id);
    q.bind(2, -1);
    while (count < limit && q.step()) {
      const std::string_view id = q.column_blob(0);
      while (next_section != sections.end() && std::string_view(*next_section) < id) {
        emit_section();
      }
      if (next_section != sections.end() && *next_section == id) continue;  // shown as section
      if (wanted(0) && count < limit) emit(id, 0, q.column_int64(1));
    }
    while (next_section != sections.end() && count < limit) emit_section();
  } else if (wanted(0)) {
    statement_use q = prepare(c, account_statement::list_items);
    q.bind(1, s.id);
    q.bind(2, max_count > 0 ? max_count : -1);
    while (q.step()) emit(q.column_blob(0), 0, q.column_int64(1));
  }
}

std::vector<listing_entry> account_store::entries(const text& file, std::int32_t attribute,
                                                  std::int32_t max_count) {
  std::vector<listing_entry> out;
  visit_entries(file, attribute, max_count,
                [&](std::string_view name_key, int attributes, std::int64_t size) {
                  out.push_back({decode_name(name_key), attributes, size});
                });
  return out;
}

std::shared_ptr<const text> account_store::listing_entries(
    sqlite_connection& c, const text& file, const std::string& file_key, std::int32_t attribute,
    std::int32_t max_count, const std::optional<std::int64_t>& generation) {
  const account_names names{name_, md_name_, md_key_};
  const section_row s = require_section(c, names, file, file_key);
  const listing_cache::key listed{s.id, attribute, max_count};
  if (generation) {
    if (std::shared_ptr<const text> kept = listings_.find(listed, *generation)) return kept;
  }
  // Written straight from the rows: no name is made as a text of its own.
  auto built = std::make_shared<text>();
  text& out = *built;
  visit_section(c, s, attribute, max_count,
                [&](std::string_view name_key, int attributes, std::int64_t size) {
                  append_listing_entry(out, name_key, attributes, size);
                });
  if (generation) listings_.store(listed, *generation, built);
  return built;
}

text account_store::list(const text& file, std::int32_t attribute, std::int32_t max_count) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  const std::shared_ptr<const text> entries =
      pool_.run(false, [&](sqlite_connection& c) -> std::shared_ptr<const text> {
        transaction t(c, false);
        // Read first, so that the generation is the one of this transaction's snapshot.
        const std::optional<std::int64_t> generation = read_change_generation(c);
        std::shared_ptr<const text> kept =
            listing_entries(c, file, file_key, attribute, max_count, generation);
        t.commit();
        return kept;
      });
  return listing_text(file, *entries);
}

void account_store::list_pieces(const text& file, std::int32_t attribute, std::int32_t max_count,
                                item_text_sink& sink) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  const std::string variant = std::to_string(attribute) + ',' + std::to_string(max_count);
  std::optional<std::int64_t> generation;
  const std::shared_ptr<const text> entries =
      pool_.run(false, [&](sqlite_connection& c) -> std::shared_ptr<const text> {
        transaction t(c, false);
        // Read first, so that the generation is the one of this transaction's snapshot.
        generation = read_change_generation(c);
        if (generation) {
          const std::shared_ptr<const std::string> kept =
              listing_renderings_.find(file_key, variant, *generation);
          if (kept && sink.reuse(kept)) {
            t.commit();
            return nullptr;
          }
        }
        std::shared_ptr<const text> listed =
            listing_entries(c, file, file_key, attribute, max_count, generation);
        t.commit();
        return listed;
      });
  if (!entries) return;  // the kept rendering was taken
  sink.begin(file.size() + 2 + entries->size());
  sink.piece(file);
  sink.piece(u"\r\n");
  sink.piece(*entries);
  sink.end();
  if (generation) {
    listing_renderings_.store(file_key, variant, *generation,
                              sink.rendering(listing_renderings_.max_rendering_bytes()));
  }
}

}  // namespace ombrix
