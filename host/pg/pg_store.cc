#include "host/pg/pg_store.h"

#include <utility>

#include "host/embedded/account_location.h"
#include "host/embedded/file_sections.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/store_checks.h"
#include "host/host_errors.h"

namespace ombrix {

pg_store::pg_store(std::string conninfo, pg_pool::options settings)
    : conninfo_(std::move(conninfo)),
      pool_(std::make_shared<pg_pool>(conninfo_, settings)) {}

std::shared_ptr<pg_store> pg_store::open(const std::string& conninfo, pg_pool::options settings) {
  if (const auto problem = conninfo_problem(conninfo)) {
    throw pg_store_error("The store '" + conninfo + "' is not a valid PostgreSQL connection (" +
                         *problem + ").");
  }
  std::shared_ptr<pg_store> store(new pg_store(conninfo, settings));
  try {
    std::unique_ptr<pg_connection> c = store->pool_->connect_now();
    store->database_ = c->database();
    pg_rows found = c->run(pg_statement::schema_present, pg_params());
    if (found.is_null(0, 0)) c->execute(pg_schema_sql);
  } catch (const pg_failure& failure) {
    throw pg_store_error("Cannot open the store in PostgreSQL database '" +
                         (store->database_.empty() ? conninfo : store->database_) +
                         "': " + failure.what() + ".");
  }
  return store;
}

std::shared_ptr<pg_account> pg_store::account(const text& name) {
  if (!is_valid_account_name(name)) {
    throw_host_error(host_error::account_not_found,
                     describe({u"'", display_name(name), u"' is not a valid account name."}));
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto found = accounts_.find(name); found != accounts_.end()) return found->second;
  }
  const std::string key = to_utf8(name);
  std::optional<std::pair<std::int32_t, text>> row;  // id, md name
  pool_->run(name, true, [&](pg_connection& c) {
    pg_rows rows = c.run(pg_statement::find_account, pg_params().bytes(key));
    if (rows.count() > 0) row.emplace(rows.int32(0, 0), decode_name(rows.bytes(0, 1)));
  });
  if (!row) {
    throw_host_error(host_error::account_not_found,
                     describe({u"Account '", name, u"' not found."}));
  }
  auto made = std::make_shared<pg_account>(pool_, row->first, name, row->second);
  std::lock_guard<std::mutex> lock(mutex_);
  return accounts_.emplace(name, std::move(made)).first->second;
}

std::int32_t pg_store::insert_account(pg_connection& c, const text& name, const text& md_name) {
  if (!is_valid_account_name(name)) {
    throw_host_error(host_error::account_not_found,
                     describe({u"'", display_name(name), u"' is not a valid account name."}));
  }
  check_new_file_name(md_name, u"master dictionary");
  const std::string md_key = encode_name(md_name);
  const text pointer = file_pointer_text(md_name);
  const std::string units = encode_content(pointer);
  pg_rows made = c.run(pg_statement::insert_account, pg_params().bytes(to_utf8(name)).bytes(md_key));
  if (made.count() == 0) {
    throw_host_error(host_error::item_exists, describe({u"Account '", name, u"' already exists."}));
  }
  const std::int32_t id = made.int32(0, 0);
  c.run(pg_statement::insert_section, pg_params()
                                          .int32(id)
                                          .bytes(encode_name(u"DICT " + md_name))
                                          .bytes(md_key)
                                          .int16(pg_dictionary_kind)
                                          .bytes(std::string_view()));
  c.run(pg_statement::insert_section,
        pg_params().int32(id).bytes(md_key).bytes(md_key).int16(pg_data_kind).bytes(md_key));
  c.run(pg_statement::create_item,
        pg_params().int32(id).bytes(md_key).bytes(md_key).int64(utf8_size(pointer)).bytes(units));
  return id;
}

void pg_store::create_account(const text& name, const text& md_name) {
  pool_->run(name, false, [&](pg_connection& c) {
    pg_transaction t(c);
    insert_account(c, name, md_name);
    t.commit();
  });
}

void pg_store::write_account(const text& name, const account_image& image) {
  pool_->run(name, false, [&](pg_connection& c) {
    pg_transaction t(c);
    const std::int32_t id = insert_account(c, name, image.md_name);
    pg_account(pool_, id, name, image.md_name).fill(c, image);
    t.commit();
  });
}

}  // namespace ombrix
