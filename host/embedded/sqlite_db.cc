#include "host/embedded/sqlite_db.h"

#include <sqlite3.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

namespace ombrix {

void configure_sqlite_for_threads() { (void)sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); }

sqlite_failure::sqlite_failure(int code, const std::string& message)
    : std::runtime_error(message), code_(code) {}

bool sqlite_failure::busy() const noexcept {
  const int primary = code_ & 0xFF;
  return primary == SQLITE_BUSY || primary == SQLITE_LOCKED;
}

bool sqlite_failure::schema_mismatch() const noexcept { return (code_ & 0xFF) == SQLITE_ERROR; }

sqlite_connection::sqlite_connection(const std::string& path, bool create) {
  // Each connection is used by one thread at a time (the pool hands it over under a mutex), so
  // SQLite's own per-connection mutex is not needed.
  int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE;
  if (create) flags |= SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    const std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    const int code = db_ ? sqlite3_extended_errcode(db_) : rc;
    sqlite3_close(db_);
    db_ = nullptr;
    throw sqlite_failure(code, message);
  }
  sqlite3_extended_result_codes(db_, 1);
}

sqlite_connection::~sqlite_connection() {
  for (sqlite3_stmt* statement : statements_) sqlite3_finalize(statement);
  sqlite3_close(db_);
}

void sqlite_connection::fail(int code) const {
  int extended = sqlite3_extended_errcode(db_);
  if ((extended & 0xFF) == SQLITE_OK || (extended & 0xFF) != (code & 0xFF)) extended = code;
  const char* message = sqlite3_errmsg(db_);
  if ((sqlite3_extended_errcode(db_) & 0xFF) != (code & 0xFF)) message = sqlite3_errstr(code);
  throw sqlite_failure(extended, message);
}

void sqlite_connection::execute(const char* sql) {
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) fail(rc);
}

sqlite3_stmt* sqlite_connection::statement(std::size_t slot, const char* sql) {
  if (slot >= statements_.size()) statements_.resize(slot + 1, nullptr);
  if (statements_[slot] == nullptr) {
    sqlite3_stmt* prepared = nullptr;
    const int rc = sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
    if (rc != SQLITE_OK) {
      sqlite3_finalize(prepared);
      fail(rc);
    }
    statements_[slot] = prepared;
  } else if (std::strcmp(sqlite3_sql(statements_[slot]), sql) != 0) {
    // Two callers sharing a slot would silently run each other's statement.
    throw std::logic_error(std::string("statement slot ") + std::to_string(slot) +
                           " holds other SQL than asked for: " + sql);
  }
  return statements_[slot];
}

std::int64_t sqlite_connection::last_insert_rowid() const { return sqlite3_last_insert_rowid(db_); }

bool sqlite_connection::in_transaction() const { return sqlite3_get_autocommit(db_) == 0; }

statement_use::statement_use(sqlite_connection& connection, sqlite3_stmt* statement)
    : connection_(connection), statement_(statement) {}

statement_use::~statement_use() {
  sqlite3_reset(statement_);
  sqlite3_clear_bindings(statement_);
}

void statement_use::bind(int index, std::int64_t value) {
  const int rc = sqlite3_bind_int64(statement_, index, value);
  if (rc != SQLITE_OK) connection_.fail(rc);
}

void statement_use::bind_blob(int index, std::string_view bytes) {
  // A null pointer would bind NULL instead of an empty BLOB.
  static const char empty = 0;
  const char* data = bytes.empty() ? &empty : bytes.data();
  const int rc = sqlite3_bind_blob64(statement_, index, data, bytes.size(), SQLITE_STATIC);
  if (rc != SQLITE_OK) connection_.fail(rc);
}

void statement_use::bind_zeroblob(int index, std::uint64_t size) {
  const int rc = sqlite3_bind_zeroblob64(statement_, index, size);
  if (rc != SQLITE_OK) connection_.fail(rc);
}

bool statement_use::step() {
  const int rc = sqlite3_step(statement_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  connection_.fail(rc);
}

void statement_use::run() {
  while (step()) {
  }
}

std::int64_t statement_use::column_int64(int index) const {
  return sqlite3_column_int64(statement_, index);
}

std::string_view statement_use::column_blob(int index) const {
  const void* data = sqlite3_column_blob(statement_, index);
  const int size = sqlite3_column_bytes(statement_, index);
  if (data == nullptr || size <= 0) return {};
  return std::string_view(static_cast<const char*>(data), static_cast<std::size_t>(size));
}

namespace {

// The connection's own slots (below first_user_slot): BEGIN and COMMIT are parsed once.
constexpr std::size_t begin_slot = 0;
constexpr std::size_t begin_immediate_slot = 1;
constexpr std::size_t commit_slot = 2;
constexpr std::size_t rollback_slot = 3;
static_assert(rollback_slot < sqlite_connection::first_user_slot);

}  // namespace

transaction::transaction(sqlite_connection& connection, bool immediate) : connection_(connection) {
  statement_use begin(connection_, immediate
                                       ? connection_.statement(begin_immediate_slot, "BEGIN IMMEDIATE")
                                       : connection_.statement(begin_slot, "BEGIN"));
  begin.run();
}

transaction::~transaction() {
  if (!open_ || !connection_.in_transaction()) return;
  try {
    statement_use rollback(connection_, connection_.statement(rollback_slot, "ROLLBACK"));
    rollback.run();
  } catch (const sqlite_failure&) {
    // The pool does not reuse a connection left inside a transaction.
  }
}

void transaction::commit() {
  statement_use commit(connection_, connection_.statement(commit_slot, "COMMIT"));
  commit.run();
  open_ = false;
}

namespace {

// Pieces of a few pages: the pager takes them as they come, and dirty pages beyond its cache
// spill to the log instead of growing memory with the value.
constexpr std::size_t blob_piece = 256 * 1024;

using blob_handle = std::unique_ptr<sqlite3_blob, int (*)(sqlite3_blob*)>;

}  // namespace

void sqlite_connection::write_blob(const char* table, const char* column, std::int64_t row,
                                   std::string_view bytes) {
  write_blob_pieces(table, column, row, bytes.size(),
                    [&](const blob_bytes& put) { put(bytes); });
}

void sqlite_connection::write_blob_pieces(const char* table, const char* column,
                                          std::int64_t row, std::size_t size,
                                          const std::function<void(const blob_bytes&)>& produce) {
  sqlite3_blob* raw = nullptr;
  int rc = sqlite3_blob_open(db_, "main", table, column, row, 1, &raw);
  const blob_handle blob(raw, sqlite3_blob_close);
  if (rc != SQLITE_OK) fail(rc);
  std::size_t written = 0;
  produce([&](std::string_view bytes) {
    if (bytes.size() > size - written) fail(SQLITE_TOOBIG);
    for (std::size_t offset = 0; offset < bytes.size(); offset += blob_piece) {
      const std::size_t length = std::min(blob_piece, bytes.size() - offset);
      rc = sqlite3_blob_write(blob.get(), bytes.data() + offset, static_cast<int>(length),
                              static_cast<int>(written + offset));
      if (rc != SQLITE_OK) fail(rc);
    }
    written += bytes.size();
  });
  if (written != size) fail(SQLITE_MISUSE);
}

void sqlite_connection::read_blob(const char* table, const char* column, std::int64_t row,
                                  std::size_t size,
                                  const std::function<void(std::string_view piece)>& take) {
  sqlite3_blob* raw = nullptr;
  int rc = sqlite3_blob_open(db_, "main", table, column, row, 0, &raw);
  const blob_handle blob(raw, sqlite3_blob_close);
  if (rc != SQLITE_OK) fail(rc);
  // A piece at a time through a buffer that stays in the processor's cache, so that the value
  // is written into its destination once (a destination of its full size would first have to be
  // filled with zeros).
  const auto buffer = std::make_unique_for_overwrite<char[]>(std::min(size, read_blob_piece));
  for (std::size_t offset = 0; offset < size; offset += read_blob_piece) {
    const std::size_t length = std::min(read_blob_piece, size - offset);
    rc = sqlite3_blob_read(blob.get(), buffer.get(), static_cast<int>(length),
                           static_cast<int>(offset));
    if (rc != SQLITE_OK) fail(rc);
    take(std::string_view(buffer.get(), length));
  }
}

}  // namespace ombrix
