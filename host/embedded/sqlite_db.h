// Owning handles for one SQLite connection and its prepared statements, and the one place where
// SQLite result codes become exceptions. A connection and its statements are used by one thread
// at a time; separate connections may be used concurrently.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace ombrix {

// Turns SQLite's memory statistics off for the process: kept, they take one process-wide mutex
// on every allocation of every connection, and concurrent requests queue on it. Takes effect
// only before SQLite's first use (a later call does nothing); call it at start-up, while no
// other thread uses SQLite.
void configure_sqlite_for_threads();

// A failed SQLite call: its extended result code and SQLite's message.
class sqlite_failure : public std::runtime_error {
 public:
  sqlite_failure(int code, const std::string& message);
  int code() const noexcept { return code_; }
  // SQLITE_BUSY or SQLITE_LOCKED: another connection holds a lock; the work may be retried.
  bool busy() const noexcept;
  // SQLITE_ERROR: the SQL does not fit the database (a missing table, for instance).
  bool schema_mismatch() const noexcept;

 private:
  int code_;
};

class sqlite_connection {
 public:
  // Opens the database at `path` for reading and writing; `create` also creates a missing file.
  // Throws sqlite_failure.
  sqlite_connection(const std::string& path, bool create);
  ~sqlite_connection();
  sqlite_connection(const sqlite_connection&) = delete;
  sqlite_connection& operator=(const sqlite_connection&) = delete;

  // Runs SQL that returns no rows (several statements allowed). Throws sqlite_failure.
  void execute(const char* sql);

  // The prepared statement kept in `slot`, prepared from `sql` on first use and finalized when
  // the connection closes. Slots below first_user_slot serve transactions. Throws sqlite_failure;
  // throws std::logic_error when the slot already holds a statement of other SQL.
  static constexpr std::size_t first_user_slot = 4;
  sqlite3_stmt* statement(std::size_t slot, const char* sql);

  std::int64_t last_insert_rowid() const;
  // Overwrites column `column` of row `row` of `table` from its start with `bytes`, a piece at a
  // time, so that SQLite never holds a copy of the whole value. REQUIRES: the value is exactly
  // as long as `bytes` (see bind_zeroblob). Throws sqlite_failure.
  void write_blob(const char* table, const char* column, std::int64_t row, std::string_view bytes);
  // The same for a value of `size` bytes that `produce` hands, in order, to the function it is
  // given. Throws sqlite_failure, also when the bytes handed on are more or fewer than `size`;
  // exceptions of `produce` pass through.
  using blob_bytes = std::function<void(std::string_view bytes)>;
  void write_blob_pieces(const char* table, const char* column, std::int64_t row,
                         std::size_t size, const std::function<void(const blob_bytes&)>& produce);
  // Reads the first `size` bytes of that value a piece at a time and passes each piece to
  // `take`, in order: every piece but the last has read_blob_piece bytes. Throws sqlite_failure;
  // exceptions of `take` pass through.
  static constexpr std::size_t read_blob_piece = 64 * 1024;
  void read_blob(const char* table, const char* column, std::int64_t row, std::size_t size,
                 const std::function<void(std::string_view piece)>& take);
  // True while an explicit transaction is open.
  bool in_transaction() const;
  sqlite3* handle() const { return db_; }

  // Throws sqlite_failure for `code` with the connection's current message.
  [[noreturn]] void fail(int code) const;

  // The schema version (PRAGMA schema_version) at which the checks of the database's own
  // schema objects last passed on this connection, -1 before they ever did: a schema that has
  // not changed since need not be checked again. Kept by the schema's code.
  std::int64_t checked_schema_version = -1;

 private:
  sqlite3* db_ = nullptr;
  std::vector<sqlite3_stmt*> statements_;  // finalized before db_ is closed
};

// One use of a prepared statement: bind, step, read columns. The statement is reset and its
// bindings cleared when the use ends, so the next use starts clean.
class statement_use {
 public:
  statement_use(sqlite_connection& connection, sqlite3_stmt* statement);
  ~statement_use();
  statement_use(const statement_use&) = delete;
  statement_use& operator=(const statement_use&) = delete;

  void bind(int index, std::int64_t value);
  // Binds a BLOB (never NULL, also when empty). REQUIRES: `bytes` outlives the use.
  void bind_blob(int index, std::string_view bytes);
  // Binds a BLOB of `size` zero bytes without making them; fill it with write_blob.
  void bind_zeroblob(int index, std::uint64_t size);
  // Steps once: true when a row is ready, false when the statement is done. Throws sqlite_failure.
  bool step();
  // Steps until the statement is done. Throws sqlite_failure.
  void run();
  std::int64_t column_int64(int index) const;
  // The column's bytes; valid until the next step or the end of the use.
  std::string_view column_blob(int index) const;

 private:
  sqlite_connection& connection_;
  sqlite3_stmt* statement_;
};

// An explicit transaction: BEGIN (IMMEDIATE takes the write lock at once, so a writer never has
// to upgrade a read lock, which SQLite could only answer with an error). Rolled back when the
// scope ends without commit().
class transaction {
 public:
  transaction(sqlite_connection& connection, bool immediate);
  ~transaction();
  transaction(const transaction&) = delete;
  transaction& operator=(const transaction&) = delete;

  // Throws sqlite_failure; the transaction is then rolled back by the destructor.
  void commit();

 private:
  sqlite_connection& connection_;
  bool open_ = true;
};

}  // namespace ombrix
