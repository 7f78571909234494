// One account of a PostgreSQL store: the same operations, refusals and descriptions as the
// embedded host's account_store, each run in one transaction of the store's database so that
// any number of servers may share the account. Thread-safe: any number of threads may call any
// method at once; each call borrows a pooled connection for its own duration.
//
// Every failure is thrown as _com_error carrying a host error number (host_errors.h): 200 to 207
// with a description naming the object; 206 when the database cannot be reached or a lock wait
// ran out (30 s).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/account_image.h"
#include "host/embedded/account_store.h"
#include "host/embedded/listing_cache.h"
#include "host/item_tag.h"
#include "host/pg/pg_pool.h"
#include "host/text.h"

namespace ombrix {

struct pg_section;

class pg_account {
 public:
  // The account `id` of the catalog; made by pg_store only.
  pg_account(std::shared_ptr<pg_pool> pool, std::int32_t id, text name, text md_name);
  pg_account(const pg_account&) = delete;
  pg_account& operator=(const pg_account&) = delete;

  const text& name() const { return name_; }
  const text& md_name() const { return md_name_; }

  // As account_store's operations of the same names.
  text read(const text& file, const text& id);
  void write(const text& file, const text& id, const text& content);
  void create_item(const text& file, const text& id, const text& content);
  void remove(const text& file, const text& id);
  text stat(const text& file, const text& id);
  std::vector<listing_entry> entries(const text& file, std::int32_t attribute,
                                     std::int32_t max_count);
  // Kept per account while the account's change generation stands: the generation is read in
  // the snapshot of the listing, and the database bumps it on every change, whoever writes.
  text list(const text& file, std::int32_t attribute, std::int32_t max_count);
  // The item rows `from` (and an existing `to`) are locked until the transaction commits, so a
  // concurrent PUT, rename or COPY of the same ids waits and then sees the result.
  void copy(const text& file, const text& from, const text& to, bool overwrite);
  void move(const text& file, const text& from, const text& to, bool replace);
  // The items of `file` that have a modification time (nanoseconds since 1970), in listing
  // order; 200, 203 as entries.
  std::vector<std::pair<text, std::int64_t>> item_times(const text& file);
  // Sets item `id`'s modification time; 202 when it does not exist, 200 and 203 as write.
  void set_item_time(const text& file, const text& id, std::int64_t nanoseconds);
  // Writes (null `content`: deletes) the item when `condition` holds for it as it is now, in
  // one transaction holding its row; false, with nothing changed, when it does not. An item
  // created by another transaction meanwhile runs the check again.
  bool change_if(const text& file, const text& id, const text* content,
                 const item_condition& condition);
  account_store::file_additions create_file(const text& file, const std::vector<text>& sections);
  std::size_t import_items(const text& file, const std::vector<account_store::item>& items);
  void for_each_item(const text& file,
                     const std::function<void(const text& id, const text& content)>& visit);

  // Adds the files, sections and items of `image` to this account inside the caller's
  // transaction on `c` (pg_store::write_account). Errors as create_file and write.
  void fill(pg_connection& c, const account_image& image);

 private:
  using entry_visitor = std::function<void(std::string_view, int, std::int64_t)>;
  pg_section require_section(pg_connection& c, const text& file, const std::string& key);
  bool is_master_dictionary(const pg_section& s) const;
  bool names_file(pg_connection& c, std::string_view id_key);
  bool names_data_section(pg_connection& c, const pg_section& s, std::string_view id_key);
  void visit_section(pg_connection& c, const pg_section& s, std::int32_t attribute,
                     std::int32_t max_count, const entry_visitor& visit);
  // write (create false) or create_item (create true) in a transaction of its own.
  void store(const text& file, const text& id, const text& content, bool create);
  // write_item or create_item on `c`; the refusals of write and create_item.
  void put(pg_connection& c, const text& file, const std::string& file_key, const text& id,
           const std::string& id_key, std::string_view units, std::int64_t size, bool create);
  void add_file(pg_connection& c, const text& file);
  void add_section(pg_connection& c, const text& file, const text& section);

  const std::shared_ptr<pg_pool> pool_;
  const std::int32_t id_;
  const text name_;
  const text md_name_;
  const std::string md_key_;
  listing_cache listings_{32, 2 * 1024 * 1024};
};

}  // namespace ombrix
