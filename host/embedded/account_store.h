// One account of the embedded host: its SQLite database and the pool of connections (each with
// its prepared statements) that serves it. Thread-safe: any number of threads may call any
// method at once; each call borrows a pooled connection for its own duration.
//
// Every failure is thrown as _com_error carrying a host error number (host_errors.h): 200 to 207
// with a description naming the object. SQLite's "busy" never leaves this class: writers of one
// process queue on a mutex, and contention with other processes is waited out and retried.
//
//   account_stores stores("/srv/data", u"MAIN");  // account_stores.h
//   auto store = stores.open(u"SALES");
//   store->write(u"CUST", u"C1", u"NAME\r\nADDR");
//   text listing = store->list(u"CUST", 0, 0);
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "host/embedded/connection_pool.h"
#include "host/embedded/listing_cache.h"
#include "host/embedded/rendering_cache.h"
#include "host/embedded/store_registry.h"
#include "host/item_tag.h"
#include "host/text.h"
#include "host/velquor_base.h"

namespace ombrix {

struct section_row;
struct account_names;

// Entry attributes in listings and stat.
inline constexpr int directory_attribute = 0x10;

// One entry of a listing.
struct listing_entry {
  text name;
  int attributes = 0;
  std::int64_t size = 0;  // 0 for directories
};

class account_store {
 public:
  // The account `name` in `root`, kept in `stores` (one store per database file) and opened
  // there on first use. Throws 201 for an invalid name or a missing account, 206 when the
  // database cannot be opened or is not an account database.
  static std::shared_ptr<account_store> open(store_registry<account_store>& stores,
                                             const std::string& root, const text& name);

  // create_account (account_creation.h).
  static void create(const std::string& root, const text& name, const text& md_name);

  ~account_store();
  account_store(const account_store&) = delete;
  account_store& operator=(const account_store&) = delete;

  const text& name() const { return name_; }
  const text& md_name() const { return md_name_; }
  const std::string& path() const { return path_; }

  // The item's content. 200 when the file does not exist, 202 when the item does not (also for
  // an entry of a dictionary that names a data section: that is no item).
  text read(const text& file, const text& id);

  // The same text handed to `sink` (velquor_base::read_item_pieces): a large text in pieces of
  // 32 Ki units, read from the database as they are handed on. For a large text the sink's
  // rendering is kept, and reused while the account's change generation stands. Errors as read.
  void read_pieces(const text& file, const text& id, item_text_sink& sink);

  // Replaces or creates the item; returns after the transaction has committed. 200, 203; 207
  // for an id of a dictionary that names a data section of its file.
  void write(const text& file, const text& id, const text& content);

  // write with the text taken from `source` (velquor_base::write_item_pieces): a large text is
  // written into the database piece by piece as the source hands it on, never held whole.
  void write_pieces(const text& file, const text& id, item_text_source& source);

  // Creates the item; 204 when it exists. Otherwise as write.
  void create_item(const text& file, const text& id, const text& content);

  // Deletes the item. 202 when missing; 207 for the MD pointer of a file or a data section's
  // entry in a dictionary.
  void remove(const text& file, const text& id);

  // "attributes CR LF size": 16 and 0 for a directory (an MD id naming a file, a dictionary id
  // naming a data section of its file), else 0 and the item's size. 200, 202, 203.
  text stat(const text& file, const text& id);

  // The entries of `file` in ascending order of their ids' UTF-8 bytes: at most `max_count`
  // when above 0, and only entries having every bit of `attribute` when above 0. 200, 203.
  std::vector<listing_entry> entries(const text& file, std::int32_t attribute,
                                     std::int32_t max_count);

  // The listing layout: the file name, CR LF, then entries "name SM attributes SM size"
  // separated by VM (SM = U+F8FC, VM = U+F8FD).
  text list(const text& file, std::int32_t attribute, std::int32_t max_count);

  // The same listing handed to `sink` (velquor_base::list_items_pieces) as the file name, CR LF
  // and the entries; the sink's rendering is kept, and reused instead of the listing while the
  // account's change generation stands. Errors as list.
  void list_pieces(const text& file, std::int32_t attribute, std::int32_t max_count,
                   item_text_sink& sink);

  // Copies item `from` to `to` in `file` in one transaction. 204 when `to` exists and not
  // `overwrite`; 200, 202, 203, 207 as read and write.
  void copy(const text& file, const text& from, const text& to, bool overwrite);

  // Gives item `from` of `file` the id `to` in one transaction: after a crash at any moment the
  // item exists under exactly one of the two ids. An existing `to` is 204 unless `replace`
  // (then it is replaced). 200, 202, 203 as read; 207 for a `to` that write refuses and a
  // `from` that remove refuses. A refused move changes nothing. Moving onto the same id only
  // checks that the item exists.
  void move(const text& file, const text& from, const text& to, bool replace);

  // Writes `content` to the item (nullptr: deletes it) when `condition` holds for the item as
  // it is, checked and changed in one transaction; false, changing nothing, when it does not.
  // Errors as write (or remove); 202 for deleting a missing item whose absence the condition
  // allows.
  bool change_if(const text& file, const text& id, const text* content,
                 const item_condition& condition);

  // Creates the file F: its dictionary DICT F, its default data section F, the MD pointer F and
  // a data section F,D for each of `sections`. For an existing file only the sections it lacks
  // are added; asking for what exists already adds nothing and is no error. Returns what was
  // added. 203 for an invalid name; 204 when an item of the MD (for F) or of DICT F (for a
  // section) is in the way.
  struct file_additions {
    bool file = false;           // F itself was created
    std::vector<text> sections;  // the sections added, in the order asked for
  };
  file_additions create_file(const text& file, const std::vector<text>& sections);

  struct item {
    text id;
    text content;
  };
  // Writes all items into `file` ("F", "F,D" or "DICT F") in one transaction, creating the file
  // and the section when missing. Returns the number written. Errors as write and create_file;
  // on any error nothing is written.
  std::size_t import_items(const text& file, const std::vector<item>& items);

  // Calls `visit` for every item of `file` in id order, inside one read transaction (the
  // snapshot stays consistent). 200, 203; exceptions of `visit` pass through.
  void for_each_item(const text& file,
                     const std::function<void(const text& id, const text& content)>& visit);

  // Modification times, nanoseconds since 1970-01-01 UTC: the store keeps them when its
  // database has them (added on open where the file can be changed). The times of the items of
  // `file` that have one, in listing order; empty when the store keeps none. 200, 203.
  std::vector<std::pair<text, std::int64_t>> item_times(const text& file);

  // Sets the item's modification time; false, changing nothing, when the store keeps no times.
  // 200, 202, 203 as stat.
  bool set_item_time(const text& file, const text& id, std::int64_t nanoseconds);

  // SQLite's integrity check: "ok" when the database is consistent, else its findings.
  std::string check_integrity();

  // Copies committed pages from the write-ahead log into the database file where no reader
  // needs them. Failures are ignored.
  void checkpoint() noexcept;

 private:
  // Calls visit(stored name, attributes, size) for each entry entries() would give, inside one
  // read transaction. Errors as entries.
  using entry_visitor = std::function<void(std::string_view, int, std::int64_t)>;
  void visit_entries(const text& file, std::int32_t attribute, std::int32_t max_count,
                     const entry_visitor& visit);
  // The entries of list's layout (after the file's line), kept or read from the rows, for the
  // snapshot of the caller's read transaction on `c`, which saw `generation`.
  std::shared_ptr<const text> listing_entries(sqlite_connection& c, const text& file,
                                              const std::string& file_key,
                                              std::int32_t attribute, std::int32_t max_count,
                                              const std::optional<std::int64_t>& generation);
  // The same for section `s`, inside the caller's read transaction on `c`.
  void visit_section(sqlite_connection& c, const section_row& s, std::int32_t attribute,
                     std::int32_t max_count, const entry_visitor& visit);

  account_store(std::string path, text name);
  void load_master_dictionary();
  // Adds the change generation to a database that lacks it; without it (the file cannot be
  // changed) listings are simply not kept.
  void ensure_change_generation();
  // Adds the modification times to a database that lacks them and notes whether it has them.
  void ensure_item_times();

  // Runs body(connection, section) in a transaction on a pooled connection (a write transaction
  // when `write`), `section` being the one `file` names, and commits when body returns; 203 for
  // an invalid file name, 200 when there is no such file. Returns what body returns.
  template <typename Body>
  auto with_section(bool write, const text& file, Body&& body);
  account_names names() const;

  // The one code path of write (create false) and create_item (create true).
  void store_item(const text& file, const text& id, const text& content, bool create);

  const std::string path_;
  const text name_;
  text md_name_;        // set once by open, before the store is shared
  std::string md_key_;  // md_name_ as stored
  connection_pool pool_;
  bool has_times_ = false;  // set once by open, before the store is shared
  // Up to 32 listings, 2 Mi units (4 MiB) in all, each of at most 512 Ki units (some 40,000
  // entries of short names).
  listing_cache listings_{32, 2 * 1024 * 1024};
  // Renderings of large items (texts read in pieces, 512 Ki units or more): up to 16, 8 MiB in
  // all, each of at most 2 MiB.
  rendering_cache renderings_{16, 8 * 1024 * 1024};
  // Renderings of listings, keyed by the file and "attribute,max_count": up to 32, 4 MiB in all,
  // each of at most 1 MiB.
  rendering_cache listing_renderings_{32, 4 * 1024 * 1024};
};

}  // namespace ombrix
