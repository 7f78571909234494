#include "host/embedded/account_store.h"

#include <algorithm>
#include <bit>
#include <atomic>
#include <filesystem>
#include <map>
#include <optional>
#include <thread>
#include <utility>

#include "host/embedded/account_location.h"
#include "host/embedded/host_errors.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/sqlite_db.h"

namespace ombrix {
namespace {

// Kinds of section rows.
constexpr std::int64_t dictionary_kind = 1;
constexpr std::int64_t data_kind = 2;

// The database layout (format 1). Names are BLOBs of UTF-8 bytes (encode_name), so SQLite's
// byte-wise BLOB order is the listing order. Item texts are BLOBs of 16-bit units (encode_content)
// in their own table, so listing and stat read only the narrow `items` rows with the size.
constexpr const char* schema_sql = R"sql(
BEGIN;
CREATE TABLE meta(key TEXT PRIMARY KEY, value BLOB NOT NULL) WITHOUT ROWID;
CREATE TABLE sections(
  section INTEGER PRIMARY KEY,
  host_name BLOB NOT NULL UNIQUE,   -- the name operations use: 'DICT F', 'F' or 'F,D'
  file BLOB NOT NULL,               -- F
  kind INTEGER NOT NULL,            -- 1 dictionary, 2 data section
  entry BLOB NOT NULL);             -- a data section's entry in DICT F: F or D; '' for DICT F
CREATE INDEX sections_by_file ON sections(file, kind, entry);
CREATE TABLE items(
  section INTEGER NOT NULL,
  id BLOB NOT NULL,
  size INTEGER NOT NULL,            -- UTF-8 length of the item text, as listings report it
  body INTEGER NOT NULL,            -- the row of `bodies` holding the text
  PRIMARY KEY(section, id)) WITHOUT ROWID;
CREATE TABLE bodies(body INTEGER PRIMARY KEY, units BLOB NOT NULL);
INSERT INTO meta(key, value) VALUES('format', CAST('1' AS BLOB));
COMMIT;
)sql";

struct query {
  std::size_t slot;
  const char* sql;
};

constexpr std::size_t first_slot = sqlite_connection::first_user_slot;
constexpr query find_section_query{first_slot + 0,
                                   "SELECT section, kind, file, entry FROM sections "
                                   "WHERE host_name = ?1"};
// Texts of a MiB or more are not loaded with the row (see read_units).
constexpr query read_query{first_slot + 1,
                           "SELECT b.body, length(b.units), "
                           "CASE WHEN length(b.units) < 1048576 THEN b.units END FROM sections s "
                           "JOIN items i ON i.section = s.section "
                           "JOIN bodies b ON b.body = i.body "
                           "WHERE s.host_name = ?1 AND i.id = ?2"};
constexpr query item_query{first_slot + 2,
                           "SELECT body, size FROM items WHERE section = ?1 AND id = ?2"};
constexpr query update_size_query{first_slot + 3,
                                  "UPDATE items SET size = ?3 WHERE section = ?1 AND id = ?2"};
constexpr query update_body_query{first_slot + 4, "UPDATE bodies SET units = ?2 WHERE body = ?1"};
constexpr query insert_body_query{first_slot + 5, "INSERT INTO bodies(units) VALUES(?1)"};
constexpr query insert_item_query{first_slot + 6,
                                  "INSERT INTO items(section, id, size, body) "
                                  "VALUES(?1, ?2, ?3, ?4)"};
constexpr query delete_item_query{first_slot + 7,
                                  "DELETE FROM items WHERE section = ?1 AND id = ?2"};
constexpr query delete_body_query{first_slot + 8, "DELETE FROM bodies WHERE body = ?1"};
constexpr query names_file_query{first_slot + 9, "SELECT 1 FROM sections WHERE file = ?1 LIMIT 1"};
constexpr query names_section_query{first_slot + 10,
                                    "SELECT 1 FROM sections "
                                    "WHERE file = ?1 AND kind = 2 AND entry = ?2"};
constexpr query list_items_query{first_slot + 11,
                                 "SELECT id, size FROM items WHERE section = ?1 "
                                 "ORDER BY id LIMIT ?2"};
constexpr query list_md_query{first_slot + 12,
                              "SELECT i.id, i.size, "
                              "EXISTS(SELECT 1 FROM sections s WHERE s.file = i.id) "
                              "FROM items i WHERE i.section = ?1 ORDER BY i.id"};
constexpr query list_sections_query{first_slot + 13,
                                    "SELECT entry FROM sections WHERE file = ?1 AND kind = 2 "
                                    "ORDER BY entry"};
constexpr query dump_query{first_slot + 14,
                           "SELECT i.id, b.units FROM items i "
                           "JOIN bodies b ON b.body = i.body "
                           "WHERE i.section = ?1 ORDER BY i.id"};
constexpr query read_body_query{first_slot + 15,
                                "SELECT i.size, b.units FROM items i "
                                "JOIN bodies b ON b.body = i.body "
                                "WHERE i.section = ?1 AND i.id = ?2"};
constexpr query insert_section_query{first_slot + 16,
                                     "INSERT INTO sections(host_name, file, kind, entry) "
                                     "VALUES(?1, ?2, ?3, ?4)"};
constexpr query md_name_query{first_slot + 17,
                              "SELECT (SELECT value FROM meta WHERE key = 'md_name'), "
                              "(SELECT value FROM meta WHERE key = 'format')"};
constexpr query insert_md_name_query{first_slot + 18,
                                     "INSERT INTO meta(key, value) VALUES('md_name', ?1)"};

statement_use prepare(sqlite_connection& connection, const query& q) {
  return statement_use(connection, connection.statement(q.slot, q.sql));
}

// Per-connection settings. journal_mode is stored in the database; the others are not.
void configure(sqlite_connection& connection) {
  connection.execute(
      "PRAGMA busy_timeout = 5000;"
      "PRAGMA journal_mode = WAL;"
      // In WAL mode NORMAL makes a commit one write() to the log: it survives a crash of the
      // process (the data is in the kernel), though not a power failure.
      "PRAGMA synchronous = NORMAL;"
      "PRAGMA cache_size = -4096;"
      // No memory mapping: a read error on a mapped page would be a signal that ends the
      // server, where read() gives an error the client receives as 206.
      "PRAGMA mmap_size = 0;"
      "PRAGMA temp_store = MEMORY;");
}

// What the operations need to know about an account while they build descriptions.
struct account_names {
  const text& account;
  const text& md_name;
  const std::string& md_key;
};

struct section_row {
  std::int64_t id = 0;
  std::int64_t kind = 0;
  std::string host_key;
  std::string file_key;
};

void check_file_name(const text& file) {
  if (!is_valid_host_name(file)) {
    throw_host_error(host_error::invalid_name,
                     describe({u"Invalid file name '", display_name(file),
                               u"' (empty, or holding CR, LF or a mark)."}));
  }
}

void check_item_id(const text& file, const text& id) {
  if (!is_valid_host_name(id)) {
    throw_host_error(host_error::invalid_name,
                     describe({u"Invalid item id '", display_name(id), u"' in file '",
                               display_name(file), u"' (empty, or holding CR, LF or a mark)."}));
  }
}

void check_new_file_name(const text& name, std::u16string_view what) {
  if (!is_valid_new_file_name(name)) {
    throw_host_error(
        host_error::invalid_name,
        describe({u"Invalid ", what, u" name '", display_name(name),
                  u"' (it must be 1 to 255 characters without control characters, ',', '/', "
                  u"'*' or marks, and not start with \"DICT \")."}));
  }
}

[[noreturn]] void item_not_found(const text& file, const text& id) {
  throw_host_error(host_error::item_not_found, describe({u"Item '", display_name(id),
                                                         u"' not found in file '",
                                                         display_name(file), u"'."}));
}

[[noreturn]] void section_is_no_item(const text& file, const text& id) {
  throw_host_error(host_error::item_not_found,
                   describe({u"Item '", display_name(id), u"' not found in file '",
                             display_name(file), u"': '", display_name(id),
                             u"' is a data section of the file, not an item."}));
}

std::optional<section_row> find_section(sqlite_connection& c, const std::string& host_key) {
  statement_use q = prepare(c, find_section_query);
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
  if (!row) {
    throw_host_error(host_error::file_not_found,
                     describe({u"File '", display_name(file), u"' not found in account '",
                               names.account, u"'."}));
  }
  return std::move(*row);
}

bool is_master_dictionary(const section_row& s, const account_names& names) {
  return s.kind == data_kind && s.host_key == names.md_key;
}

// True when `id_key` names a file of the account (an MD item that is a file pointer).
bool names_file(sqlite_connection& c, const std::string& id_key) {
  statement_use q = prepare(c, names_file_query);
  q.bind_blob(1, id_key);
  return q.step();
}

// True when `id_key` names a data section of the dictionary's file.
bool names_data_section(sqlite_connection& c, const section_row& dictionary,
                        const std::string& id_key) {
  if (dictionary.kind != dictionary_kind) return false;
  statement_use q = prepare(c, names_section_query);
  q.bind_blob(1, dictionary.file_key);
  q.bind_blob(2, id_key);
  return q.step();
}

enum class put_mode { replace, create };

// Texts from this size on are written into their row piece by piece: bound whole, SQLite would
// build the row in memory, a second copy of the text.
constexpr std::size_t piecewise_units_bytes = 1024 * 1024;
static_assert(piecewise_units_bytes == 1048576, "read_query's CASE names the same bound");

void bind_units(statement_use& q, int index, std::string_view units) {
  if (units.size() >= piecewise_units_bytes) {
    q.bind_zeroblob(index, units.size());
  } else {
    q.bind_blob(index, units);
  }
}

// Reads a large text straight from its row into the result, a piece at a time: loaded with the
// row, SQLite would hold a second copy of it while it is converted.
text read_units(sqlite_connection& c, std::int64_t body, std::int64_t bytes) {
  const auto length = static_cast<std::size_t>(bytes);
  if constexpr (std::endian::native == std::endian::little) {
    text units(length / 2, u'\0');
    c.read_blob("bodies", "units", body, reinterpret_cast<char*>(units.data()), units.size() * 2);
    return units;
  } else {
    std::string stored(length, '\0');
    c.read_blob("bodies", "units", body, stored.data(), stored.size());
    return decode_content(stored);
  }
}

// Writes the text into the zero bytes bind_units left for it, when it did.
void fill_units(sqlite_connection& c, std::int64_t body, std::string_view units) {
  if (units.size() >= piecewise_units_bytes) c.write_blob("bodies", "units", body, units);
}

// Stores one item in section `s`. REQUIRES: an open write transaction on `c`.
void put_item(sqlite_connection& c, const section_row& s, const text& file, const text& id,
              const std::string& id_key, std::string_view units, std::int64_t size,
              put_mode mode) {
  if (names_data_section(c, s, id_key)) {
    throw_host_error(host_error::file_pointer,
                     describe({u"Item '", display_name(id), u"' cannot be written in file '",
                               display_name(file), u"': it names a data section of the file."}));
  }
  std::optional<std::pair<std::int64_t, std::int64_t>> existing;  // body, size
  {
    statement_use q = prepare(c, item_query);
    q.bind(1, s.id);
    q.bind_blob(2, id_key);
    if (q.step()) existing.emplace(q.column_int64(0), q.column_int64(1));
  }
  if (existing) {
    if (mode == put_mode::create) {
      throw_host_error(host_error::item_exists,
                       describe({u"Item '", display_name(id), u"' already exists in file '",
                                 display_name(file), u"'."}));
    }
    if (existing->second != size) {
      statement_use q = prepare(c, update_size_query);
      q.bind(1, s.id);
      q.bind_blob(2, id_key);
      q.bind(3, size);
      q.run();
    }
    {
      statement_use q = prepare(c, update_body_query);
      q.bind(1, existing->first);
      bind_units(q, 2, units);
      q.run();
    }
    fill_units(c, existing->first, units);
    return;
  }
  {
    statement_use q = prepare(c, insert_body_query);
    bind_units(q, 1, units);
    q.run();
  }
  const std::int64_t body = c.last_insert_rowid();
  fill_units(c, body, units);
  statement_use q = prepare(c, insert_item_query);
  q.bind(1, s.id);
  q.bind_blob(2, id_key);
  q.bind(3, size);
  q.bind(4, body);
  q.run();
}

void insert_section(sqlite_connection& c, const std::string& host_key, const std::string& file_key,
                    std::int64_t kind, const std::string& entry_key) {
  statement_use q = prepare(c, insert_section_query);
  q.bind_blob(1, host_key);
  q.bind_blob(2, file_key);
  q.bind(3, kind);
  q.bind_blob(4, entry_key);
  q.run();
}

// Adds the file F: DICT F, the data section F and the MD pointer F. REQUIRES: an open write
// transaction; F is a valid new file name and names no file yet.
void add_file(sqlite_connection& c, const account_names& names, const text& file) {
  const std::string file_key = encode_name(file);
  const section_row md = require_section(c, names, names.md_name, names.md_key);
  {
    statement_use q = prepare(c, item_query);
    q.bind(1, md.id);
    q.bind_blob(2, file_key);
    if (q.step()) {
      throw_host_error(host_error::item_exists,
                       describe({u"Item '", display_name(file), u"' already exists in file '",
                                 names.md_name, u"', so no file of that name can be created."}));
    }
  }
  insert_section(c, encode_name(u"DICT " + file), file_key, dictionary_kind, std::string());
  insert_section(c, file_key, file_key, data_kind, file_key);
  const text pointer = u"F\r\n" + file + u"\r\nDICT " + file;
  put_item(c, md, names.md_name, file, file_key, encode_content(pointer), utf8_size(pointer),
           put_mode::create);
}

// Adds the data section F,D. REQUIRES: an open write transaction; F names a file; D is a valid
// new file name other than F.
void add_section(sqlite_connection& c, const account_names& names, const text& file,
                 const text& name) {
  const std::string file_key = encode_name(file);
  const std::string entry_key = encode_name(name);
  const text dictionary_name = u"DICT " + file;
  const section_row dictionary =
      require_section(c, names, dictionary_name, encode_name(dictionary_name));
  if (names_data_section(c, dictionary, entry_key)) {
    throw_host_error(host_error::item_exists,
                     describe({u"Section '", display_name(name), u"' of file '",
                               display_name(file), u"' already exists."}));
  }
  statement_use q = prepare(c, item_query);
  q.bind(1, dictionary.id);
  q.bind_blob(2, entry_key);
  if (q.step()) {
    throw_host_error(host_error::item_exists,
                     describe({u"Item '", display_name(name), u"' already exists in file '",
                               display_name(dictionary_name),
                               u"', so no section of that name can be created."}));
  }
  insert_section(c, encode_name(file + u"," + name), file_key, data_kind, entry_key);
}

void append_decimal(text& out, std::int64_t value) {
  char digits[24];
  int length = 0;
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                     : static_cast<std::uint64_t>(value);
  do {
    digits[length++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) out.push_back(u'-');
  while (length > 0) out.push_back(static_cast<char16_t>(digits[--length]));
}

text stat_text(int attributes, std::int64_t size) {
  text out;
  append_decimal(out, attributes);
  out += u"\r\n";
  append_decimal(out, size);
  return out;
}

// The process-wide pool of account stores. It belongs to the embedded host: the server makes a
// host object per request and connects it every time, and keeping each account's connections
// and prepared statements between requests is what makes that cheap.
struct store_registry {
  std::mutex mutex;
  std::map<std::string, std::shared_ptr<account_store>> stores;  // guarded by mutex; by path
};

// Never destroyed: connection threads may still use it while the process exits. Committed data
// is safe in the write-ahead log without a last checkpoint.
store_registry& registry() {
  static store_registry* const instance = new store_registry;
  return *instance;
}

}  // namespace

// A connection borrowed for one call: given back to the pool when the call ends, unless it
// was discarded after a failure that may have left it unusable.
class account_store::lease {
 public:
  explicit lease(account_store& store) : store_(store) {}
  ~lease() {
    if (connection_) store_.give_back(std::move(connection_));
  }
  lease(const lease&) = delete;
  lease& operator=(const lease&) = delete;

  sqlite_connection& acquire() {
    connection_ = store_.borrow();
    return *connection_;
  }
  void discard() { connection_.reset(); }

 private:
  account_store& store_;
  std::unique_ptr<sqlite_connection> connection_;
};

account_store::account_store(std::string path, text name)
    : path_(std::move(path)), name_(std::move(name)) {}

account_store::~account_store() = default;

std::unique_ptr<sqlite_connection> account_store::borrow() {
  {
    std::lock_guard<std::mutex> lock(pool_mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<sqlite_connection> connection = std::move(idle_.back());
      idle_.pop_back();
      return connection;
    }
  }
  auto connection = std::make_unique<sqlite_connection>(path_, false);
  configure(*connection);
  return connection;
}

void account_store::give_back(std::unique_ptr<sqlite_connection> connection) {
  // A connection still inside a transaction (a failed rollback) is not reused.
  if (connection->in_transaction()) return;
  std::lock_guard<std::mutex> lock(pool_mutex_);
  if (idle_.size() < max_idle) idle_.push_back(std::move(connection));
}

void account_store::storage_failure(const std::string& what) const {
  throw_host_error(host_error::storage_failure,
                   describe({u"Storage failure in account '", name_, u"': ",
                             from_default_codepage(what), u"."}));
}

template <typename Body>
auto account_store::run(bool write, Body&& body) {
  using clock = std::chrono::steady_clock;
  const auto deadline = clock::now() + busy_limit;
  auto pause = std::chrono::milliseconds(1);
  for (;;) {
    {
      std::unique_lock<std::mutex> writer(write_mutex_, std::defer_lock);
      if (write) writer.lock();
      lease borrowed(*this);
      try {
        return body(borrowed.acquire());
      } catch (const sqlite_failure& failure) {
        if (!failure.busy()) {
          borrowed.discard();
          storage_failure(failure.what());
        }
        if (clock::now() >= deadline) {
          storage_failure("the database stayed locked by another process; try again later");
        }
      }
    }
    // Only another process can hold the lock this long (the busy time-out has passed).
    std::this_thread::sleep_for(pause);
    pause = std::min(pause * 2, std::chrono::milliseconds(50));
  }
}

std::shared_ptr<account_store> account_store::open(const std::string& root, const text& name) {
  if (!is_valid_account_name(name)) {
    throw_host_error(host_error::account_not_found,
                     describe({u"'", display_name(name), u"' is not a valid account name."}));
  }
  if (root.empty()) {
    throw_host_error(host_error::account_not_found,
                     describe({u"Account '", name,
                               u"' not found: there is no data root (set OMBRIX_DATA or HOME)."}));
  }
  std::string path = account_path(root, name);
  store_registry& stores = registry();
  std::lock_guard<std::mutex> lock(stores.mutex);
  // Accounts are never deleted by this host, so a store once opened stays valid.
  if (auto found = stores.stores.find(path); found != stores.stores.end()) return found->second;
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
  stores.stores.emplace(std::move(path), store);
  return store;
}

void account_store::load_master_dictionary() {
  const std::optional<std::string> found = run(false, [&](sqlite_connection& c) {
    std::optional<std::string> md;
    try {
      statement_use q = prepare(c, md_name_query);
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

void account_store::create(const std::string& root, const text& name, const text& md_name) {
  if (!is_valid_account_name(name)) {
    throw_host_error(host_error::account_not_found,
                     describe({u"'", display_name(name), u"' is not a valid account name."}));
  }
  check_new_file_name(md_name, u"master dictionary");
  const auto fail = [&](const std::string& what) {
    throw_host_error(host_error::storage_failure,
                     describe({u"Cannot create account '", name, u"': ",
                               from_default_codepage(what), u"."}));
  };
  if (root.empty()) fail("there is no data root (set OMBRIX_DATA or HOME)");
  std::error_code error;
  if (!ensure_data_root(root, error)) {
    fail("cannot create the data root '" + root + "': " + error.message());
  }
  const std::string path = account_path(root, name);
  const auto exists = [&] {
    throw_host_error(host_error::item_exists, describe({u"Account '", name, u"' already exists."}));
  };
  if (std::filesystem::exists(path, error)) exists();

  // The database is built under a private name and linked into place only when complete, so
  // no one ever opens a half-made account and two creators cannot both succeed.
  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      path + ".new-" +
      std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()) % 1000000007u) +
      "-" + std::to_string(counter++) + "-" +
      std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  const auto clean_up = [&] {
    std::error_code ignored;
    std::filesystem::remove(temporary, ignored);
    std::filesystem::remove(temporary + "-journal", ignored);
    std::filesystem::remove(temporary + "-wal", ignored);
    std::filesystem::remove(temporary + "-shm", ignored);
  };
  try {
    sqlite_connection c(temporary, true);
    c.execute(schema_sql);
    const std::string md_key = encode_name(md_name);
    const account_names names{name, md_name, md_key};
    transaction t(c, true);
    {
      statement_use q = prepare(c, insert_md_name_query);
      q.bind_blob(1, md_key);
      q.run();
    }
    insert_section(c, encode_name(u"DICT " + md_name), md_key, dictionary_kind, std::string());
    insert_section(c, md_key, md_key, data_kind, md_key);
    const text pointer = u"F\r\n" + md_name + u"\r\nDICT " + md_name;
    const section_row md = require_section(c, names, md_name, md_key);
    put_item(c, md, md_name, md_name, md_key, encode_content(pointer), utf8_size(pointer),
             put_mode::create);
    t.commit();
    c.execute("PRAGMA journal_mode = WAL");
  } catch (const sqlite_failure& failure) {
    clean_up();
    fail(failure.what());
  } catch (...) {
    clean_up();
    throw;
  }
  std::filesystem::create_hard_link(temporary, path, error);
  clean_up();
  if (error == std::errc::file_exists) exists();
  if (error) fail(error.message());
}

void account_store::release_unused_stores() {
  std::vector<std::shared_ptr<account_store>> unused;  // closed after the lock is released
  store_registry& stores = registry();
  std::lock_guard<std::mutex> lock(stores.mutex);
  for (auto it = stores.stores.begin(); it != stores.stores.end();) {
    if (it->second.use_count() == 1) {
      unused.push_back(std::move(it->second));
      it = stores.stores.erase(it);
    } else {
      ++it;
    }
  }
}

text account_store::read(const text& file, const text& id) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  return run(false, [&](sqlite_connection& c) -> text {
    std::optional<std::pair<std::int64_t, std::int64_t>> large;  // body, bytes
    {
      statement_use q = prepare(c, read_query);
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
    if (large) return read_units(c, large->first, large->second);
    const section_row s = require_section(c, names, file, file_key);
    if (names_data_section(c, s, id_key)) section_is_no_item(file, id);
    item_not_found(file, id);
  });
}

// On little-endian machines the item's own 16-bit units are bound as the BLOB, without a copy.
void account_store::store_item(const text& file, const text& id, const text& content,
                               bool create) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  std::string scratch;
  const std::string_view units = content_bytes(content, scratch);
  const std::int64_t size = utf8_size(content);
  run(true, [&](sqlite_connection& c) {
    transaction t(c, true);
    const section_row s = require_section(c, names, file, file_key);
    put_item(c, s, file, id, id_key, units, size, create ? put_mode::create : put_mode::replace);
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
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  run(true, [&](sqlite_connection& c) {
    transaction t(c, true);
    const section_row s = require_section(c, names, file, file_key);
    if (is_master_dictionary(s, names) && names_file(c, id_key)) {
      throw_host_error(host_error::file_pointer,
                       describe({u"Item '", display_name(id), u"' in file '", display_name(file),
                                 u"' is the pointer of file '", display_name(id),
                                 u"' and cannot be deleted."}));
    }
    if (names_data_section(c, s, id_key)) {
      throw_host_error(host_error::file_pointer,
                       describe({u"Item '", display_name(id), u"' in file '", display_name(file),
                                 u"' names a data section of the file and cannot be deleted."}));
    }
    std::int64_t body = 0;
    {
      statement_use q = prepare(c, item_query);
      q.bind(1, s.id);
      q.bind_blob(2, id_key);
      if (!q.step()) item_not_found(file, id);
      body = q.column_int64(0);
    }
    {
      statement_use q = prepare(c, delete_item_query);
      q.bind(1, s.id);
      q.bind_blob(2, id_key);
      q.run();
    }
    {
      statement_use q = prepare(c, delete_body_query);
      q.bind(1, body);
      q.run();
    }
    t.commit();
  });
}

text account_store::stat(const text& file, const text& id) {
  check_file_name(file);
  check_item_id(file, id);
  const std::string file_key = encode_name(file);
  const std::string id_key = encode_name(id);
  const account_names names{name_, md_name_, md_key_};
  return run(false, [&](sqlite_connection& c) -> text {
    transaction t(c, false);
    const section_row s = require_section(c, names, file, file_key);
    if ((is_master_dictionary(s, names) && names_file(c, id_key)) ||
        names_data_section(c, s, id_key)) {
      return stat_text(directory_attribute, 0);
    }
    statement_use q = prepare(c, item_query);
    q.bind(1, s.id);
    q.bind_blob(2, id_key);
    if (!q.step()) item_not_found(file, id);
    return stat_text(0, q.column_int64(1));
  });
}

std::vector<listing_entry> account_store::entries(const text& file, std::int32_t attribute,
                                                  std::int32_t max_count) {
  check_file_name(file);
  const std::string file_key = encode_name(file);
  const account_names names{name_, md_name_, md_key_};
  const std::size_t limit =
      max_count > 0 ? static_cast<std::size_t>(max_count) : static_cast<std::size_t>(-1);
  const auto wanted = [attribute](int attributes) {
    return attribute <= 0 || (attributes & attribute) == attribute;
  };
  return run(false, [&](sqlite_connection& c) {
    std::vector<listing_entry> out;
    transaction t(c, false);
    const section_row s = require_section(c, names, file, file_key);
    if (is_master_dictionary(s, names)) {
      statement_use q = prepare(c, list_md_query);
      q.bind(1, s.id);
      while (out.size() < limit && q.step()) {
        const bool directory = q.column_int64(2) != 0;
        const int attributes = directory ? directory_attribute : 0;
        if (!wanted(attributes)) continue;
        out.push_back({decode_name(q.column_blob(0)), attributes,
                       directory ? 0 : q.column_int64(1)});
      }
    } else if (s.kind == dictionary_kind) {
      // Dictionary items and the file's data sections, merged in byte order of their names.
      std::vector<std::string> sections;
      {
        statement_use q = prepare(c, list_sections_query);
        q.bind_blob(1, s.file_key);
        while (q.step()) sections.emplace_back(q.column_blob(0));
      }
      auto next_section = sections.begin();
      const auto emit_section = [&] {
        if (wanted(directory_attribute) && out.size() < limit) {
          out.push_back({decode_name(*next_section), directory_attribute, 0});
        }
        ++next_section;
      };
      statement_use q = prepare(c, list_items_query);
      q.bind(1, s.id);
      q.bind(2, -1);
      while (out.size() < limit && q.step()) {
        const std::string_view id = q.column_blob(0);
        while (next_section != sections.end() && std::string_view(*next_section) < id) {
          emit_section();
        }
        if (next_section != sections.end() && *next_section == id) continue;  // shown as section
        if (wanted(0) && out.size() < limit) out.push_back({decode_name(id), 0, q.column_int64(1)});
      }
      while (next_section != sections.end() && out.size() < limit) emit_section();
    } else if (wanted(0)) {
      statement_use q = prepare(c, list_items_query);
      q.bind(1, s.id);
      q.bind(2, max_count > 0 ? max_count : -1);
      while (q.step()) out.push_back({decode_name(q.column_blob(0)), 0, q.column_int64(1)});
    }
    t.commit();
    return out;
  });
}

text account_store::list(const text& file, std::int32_t attribute, std::int32_t max_count) {
  const std::vector<listing_entry> found = entries(file, attribute, max_count);
  text out;
  out.reserve(file.size() + 2 + found.size() * 24);
  out += file;
  out += u"\r\n";
  bool first = true;
  for (const listing_entry& entry : found) {
    if (!first) out.push_back(value_mark);
    first = false;
    out += entry.name;
    out.push_back(subvalue_mark);
    append_decimal(out, entry.attributes);
    out.push_back(subvalue_mark);
    append_decimal(out, entry.size);
  }
  return out;
}

void account_store::copy(const text& file, const text& from, const text& to, bool overwrite) {
  check_file_name(file);
  check_item_id(file, from);
  check_item_id(file, to);
  const std::string file_key = encode_name(file);
  const std::string from_key = encode_name(from);
  const std::string to_key = encode_name(to);
  const account_names names{name_, md_name_, md_key_};
  run(true, [&](sqlite_connection& c) {
    transaction t(c, true);
    const section_row s = require_section(c, names, file, file_key);
    std::int64_t size = 0;
    std::string units;
    {
      statement_use q = prepare(c, read_body_query);
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
      if (!overwrite) {
        throw_host_error(host_error::item_exists,
                         describe({u"Item '", display_name(to), u"' already exists in file '",
                                   display_name(file), u"'."}));
      }
      return;  // copying an item onto itself changes nothing
    }
    put_item(c, s, file, to, to_key, units, size,
             overwrite ? put_mode::replace : put_mode::create);
    t.commit();
  });
}

void account_store::create_file(const text& file, const std::vector<text>& sections) {
  check_new_file_name(file, u"file");
  for (std::size_t i = 0; i < sections.size(); ++i) {
    check_new_file_name(sections[i], u"section");
    if (sections[i] == file) {
      throw_host_error(host_error::invalid_name,
                       describe({u"Section '", display_name(file), u"' is the default section of "
                                                                    u"file '",
                                 display_name(file), u"'; name only further sections."}));
    }
    if (std::find(sections.begin(), sections.begin() + static_cast<std::ptrdiff_t>(i),
                  sections[i]) != sections.begin() + static_cast<std::ptrdiff_t>(i)) {
      throw_host_error(host_error::invalid_name,
                       describe({u"Section '", display_name(sections[i]), u"' is named twice."}));
    }
  }
  const account_names names{name_, md_name_, md_key_};
  run(true, [&](sqlite_connection& c) {
    transaction t(c, true);
    if (!names_file(c, encode_name(file))) {
      add_file(c, names, file);
    } else if (sections.empty()) {
      throw_host_error(host_error::item_exists,
                       describe({u"File '", display_name(file), u"' already exists in account '",
                                 name_, u"'."}));
    }
    for (const text& section : sections) add_section(c, names, file, section);
    t.commit();
  });
}

std::size_t account_store::import_items(const text& file, const std::vector<item>& items) {
  check_file_name(file);
  for (const item& each : items) check_item_id(file, each.id);
  // The file and section that `file` names, in case they have to be made.
  text base = file;
  text section_name;
  if (file.starts_with(u"DICT ")) {
    base = file.substr(5);
  } else if (const auto comma = file.find(u','); comma != text::npos) {
    base = file.substr(0, comma);
    section_name = file.substr(comma + 1);
  }
  const std::string file_key = encode_name(file);
  const account_names names{name_, md_name_, md_key_};
  std::vector<std::pair<std::string, std::string>> encoded;  // id key, units
  encoded.reserve(items.size());
  for (const item& each : items) {
    encoded.emplace_back(encode_name(each.id), encode_content(each.content));
  }
  return run(true, [&](sqlite_connection& c) {
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
  check_file_name(file);
  const std::string file_key = encode_name(file);
  const account_names names{name_, md_name_, md_key_};
  run(false, [&](sqlite_connection& c) {
    transaction t(c, false);
    const section_row s = require_section(c, names, file, file_key);
    {
      statement_use q = prepare(c, dump_query);
      q.bind(1, s.id);
      while (q.step()) visit(decode_name(q.column_blob(0)), decode_content(q.column_blob(1)));
    }
    t.commit();
  });
}

std::string account_store::check_integrity() {
  return run(false, [&](sqlite_connection& c) {
    std::string findings;
    statement_use q(c, c.statement(first_slot + 19, "PRAGMA integrity_check"));
    while (q.step()) {
      if (!findings.empty()) findings += '\n';
      findings += q.column_blob(0);
    }
    return findings;
  });
}

void account_store::checkpoint() noexcept {
  try {
    run(false, [&](sqlite_connection& c) { c.execute("PRAGMA wal_checkpoint(PASSIVE)"); });
  } catch (...) {
    // A checkpoint is an optimisation; the log stays valid without it.
  }
}

}  // namespace ombrix
