// One libpq connection to a store's database, with the statements of pg_schema.h prepared on
// first use, parameters and results in binary form. Not thread-safe: one thread uses a
// connection at a time (the pool hands each to one borrower).
//
// Failures are thrown as pg_failure: the SQLSTATE and libpq's message. broken() says afterwards
// whether the connection itself was lost (then it must not be reused).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "host/pg/pg_schema.h"

// libpq's own connection and result types (PGconn, PGresult), declared here so that users of
// this header need not include libpq-fe.h.
struct pg_conn;
struct pg_result;

namespace ombrix {

// A failed call: `sqlstate` is the five-character code ("" when the connection failed before
// the server answered).
class pg_failure : public std::runtime_error {
 public:
  pg_failure(std::string sqlstate, const std::string& message)
      : std::runtime_error(message), sqlstate_(std::move(sqlstate)) {}
  const std::string& sqlstate() const { return sqlstate_; }
  // Serialization failure or deadlock: the transaction may simply run again.
  bool retryable() const { return sqlstate_ == "40001" || sqlstate_ == "40P01"; }
  // A unique key taken by a concurrent transaction since this one looked.
  bool unique_violation() const { return sqlstate_ == "23505"; }
  // lock_timeout or statement_timeout ran out.
  bool timed_out() const { return sqlstate_ == "55P03" || sqlstate_ == "57014"; }

 private:
  std::string sqlstate_;
};

// The rows of one statement, read in binary form. Owns the libpq result.
class pg_rows {
 public:
  explicit pg_rows(pg_result* result);
  ~pg_rows();
  pg_rows(pg_rows&& other) noexcept;
  pg_rows& operator=(pg_rows&&) = delete;
  pg_rows(const pg_rows&) = delete;

  int count() const;
  bool is_null(int row, int column) const;
  // bytea or text: the bytes as sent; valid while this object lives.
  std::string_view bytes(int row, int column) const;
  std::int64_t int64(int row, int column) const;  // int8
  std::int32_t int32(int row, int column) const;  // int4
  std::int16_t int16(int row, int column) const;  // int2
  bool boolean(int row, int column) const;        // bool

 private:
  pg_result* result_;
};

// Parameters of one statement in binary form. Holds copies of numbers; byte parameters are
// views, valid until the statement has run.
class pg_params {
 public:
  pg_params& int64(std::int64_t value);
  pg_params& int32(std::int32_t value);
  pg_params& int16(std::int16_t value);
  pg_params& bytes(std::string_view value);  // bytea or text
  pg_params& null();

  int size() const { return static_cast<int>(values_.size()); }
  const char* const* values() const { return values_.data(); }
  const int* lengths() const { return lengths_.data(); }
  const int* formats() const { return formats_.data(); }

 private:
  char* number_slot(std::size_t bytes);
  std::vector<const char*> values_;
  std::vector<int> lengths_;
  std::vector<int> formats_;
  // Numbers in network order; at most 16 per statement, so views never move.
  char numbers_[16 * 8] = {};
  std::size_t numbers_used_ = 0;
};

class pg_connection {
 public:
  // Connects with the libpq connection text `conninfo` (a URI or key=value words); `settings`
  // are the session settings run once after connecting. Throws pg_failure when the server
  // cannot be reached or refuses.
  pg_connection(const std::string& conninfo, const std::string& settings);
  ~pg_connection();
  pg_connection(const pg_connection&) = delete;
  pg_connection& operator=(const pg_connection&) = delete;

  // Runs `statement` (prepared on this connection on first use). Throws pg_failure.
  pg_rows run(pg_statement statement, const pg_params& params);
  // Runs SQL text without parameters (transaction control, the schema). Throws pg_failure.
  void execute(const char* sql);

  // True once the connection to the server is lost.
  bool broken() const;
  // The name of the database connected to.
  std::string database() const;

 private:
  [[noreturn]] void fail(pg_result* result);
  pg_conn* conn_;
  std::vector<bool> prepared_;
};

// A transaction on one connection: BEGIN with `begin_sql`, COMMIT by commit(), ROLLBACK when
// left without commit (the failure of ROLLBACK is ignored: a broken connection is not reused).
class pg_transaction {
 public:
  pg_transaction(pg_connection& connection, const char* begin_sql = "BEGIN");
  ~pg_transaction();
  pg_transaction(const pg_transaction&) = delete;
  pg_transaction& operator=(const pg_transaction&) = delete;
  void commit();

 private:
  pg_connection& connection_;
  bool open_ = true;
};

// Checks a connection text without connecting: nullopt when libpq accepts it, else libpq's
// reason.
std::optional<std::string> conninfo_problem(const std::string& conninfo);

}  // namespace ombrix
