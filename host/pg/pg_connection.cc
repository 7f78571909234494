#include "host/pg/pg_connection.h"

#include <libpq-fe.h>

#include <utility>

namespace ombrix {
namespace {

std::uint64_t load_big_endian(const char* bytes, std::size_t count) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < count; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[i]);
  return value;
}

// libpq's messages end in a line feed and may run over several lines; descriptions take the
// first line.
std::string first_line(const char* message) {
  std::string_view line = message ? message : "";
  line = line.substr(0, line.find('\n'));
  for (std::string_view prefix : {"ERROR:  ", "FATAL:  "}) {
    if (line.starts_with(prefix)) line.remove_prefix(prefix.size());
  }
  return line.empty() ? std::string("the database connection failed") : std::string(line);
}

}  // namespace

// ---- pg_rows -------------------------------------------------------------------------------

pg_rows::pg_rows(pg_result* result) : result_(result) {}
pg_rows::~pg_rows() {
  if (result_) PQclear(result_);
}
pg_rows::pg_rows(pg_rows&& other) noexcept : result_(std::exchange(other.result_, nullptr)) {}

int pg_rows::count() const { return PQntuples(result_); }
bool pg_rows::is_null(int row, int column) const {
  return PQgetisnull(result_, row, column) != 0;
}
std::string_view pg_rows::bytes(int row, int column) const {
  return {PQgetvalue(result_, row, column),
          static_cast<std::size_t>(PQgetlength(result_, row, column))};
}
std::int64_t pg_rows::int64(int row, int column) const {
  return static_cast<std::int64_t>(load_big_endian(PQgetvalue(result_, row, column), 8));
}
std::int32_t pg_rows::int32(int row, int column) const {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(load_big_endian(PQgetvalue(result_, row, column), 4)));
}
std::int16_t pg_rows::int16(int row, int column) const {
  return static_cast<std::int16_t>(
      static_cast<std::uint16_t>(load_big_endian(PQgetvalue(result_, row, column), 2)));
}
bool pg_rows::boolean(int row, int column) const {
  return !is_null(row, column) && PQgetvalue(result_, row, column)[0] != 0;
}

// ---- pg_params -----------------------------------------------------------------------------

char* pg_params::number_slot(std::size_t bytes) {
  if (numbers_used_ + bytes > sizeof numbers_) throw std::length_error("too many parameters");
  char* slot = numbers_ + numbers_used_;
  numbers_used_ += bytes;
  return slot;
}

pg_params& pg_params::int64(std::int64_t value) {
  char* slot = number_slot(8);
  const auto bits = static_cast<std::uint64_t>(value);
  for (int i = 0; i < 8; ++i) slot[i] = static_cast<char>(bits >> (56 - 8 * i));
  values_.push_back(slot);
  lengths_.push_back(8);
  formats_.push_back(1);
  return *this;
}

pg_params& pg_params::int32(std::int32_t value) {
  char* slot = number_slot(4);
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) slot[i] = static_cast<char>(bits >> (24 - 8 * i));
  values_.push_back(slot);
  lengths_.push_back(4);
  formats_.push_back(1);
  return *this;
}

pg_params& pg_params::int16(std::int16_t value) {
  char* slot = number_slot(2);
  const auto bits = static_cast<std::uint16_t>(value);
  slot[0] = static_cast<char>(bits >> 8);
  slot[1] = static_cast<char>(bits);
  values_.push_back(slot);
  lengths_.push_back(2);
  formats_.push_back(1);
  return *this;
}

pg_params& pg_params::bytes(std::string_view value) {
  // libpq reads a binary parameter's length from `lengths`; an empty one still needs a pointer.
  values_.push_back(value.data() ? value.data() : "");
  lengths_.push_back(static_cast<int>(value.size()));
  formats_.push_back(1);
  return *this;
}

pg_params& pg_params::null() {
  values_.push_back(nullptr);
  lengths_.push_back(0);
  formats_.push_back(1);
  return *this;
}

// ---- pg_connection -------------------------------------------------------------------------

pg_connection::pg_connection(const std::string& conninfo, const std::string& settings)
    : conn_(nullptr), prepared_(static_cast<std::size_t>(pg_statement::count), false) {
  // Defaults first: the connection text's own values override them. A connect attempt ends
  // after 3 s per host; TCP keepalives and the user time-out end a connection whose peer has
  // gone silent within about 10 s, so no call waits for ever on a vanished server.
  const char* keywords[] = {"connect_timeout", "keepalives_idle", "keepalives_interval",
                            "keepalives_count", "tcp_user_timeout", "application_name",
                            "dbname", nullptr};
  const char* values[] = {"3", "5", "2", "3", "10000", "ombrix", conninfo.c_str(), nullptr};
  conn_ = PQconnectdbParams(keywords, values, 1);
  if (conn_ == nullptr) throw pg_failure("", "out of memory");
  if (PQstatus(conn_) != CONNECTION_OK) {
    std::string message = first_line(PQerrorMessage(conn_));
    PQfinish(conn_);
    throw pg_failure("", message);
  }
  try {
    execute(settings.c_str());
  } catch (...) {
    PQfinish(conn_);
    throw;
  }
}

pg_connection::~pg_connection() { PQfinish(conn_); }

void pg_connection::fail(pg_result* result) {
  std::string sqlstate;
  std::string message;
  if (result) {
    const char* state = PQresultErrorField(result, PG_DIAG_SQLSTATE);
    if (state) sqlstate = state;
    message = first_line(PQresultErrorMessage(result));
    PQclear(result);
  } else {
    message = first_line(PQerrorMessage(conn_));
  }
  throw pg_failure(std::move(sqlstate), message);
}

pg_rows pg_connection::run(pg_statement statement, const pg_params& params) {
  const auto index = static_cast<std::size_t>(statement);
  // Statement names "o0", "o1", ...: the enum has fewer than a hundred.
  char name[4] = {'o', static_cast<char>('0' + index / 10 % 10), static_cast<char>('0' + index % 10), 0};
  if (!prepared_[index]) {
    int count = 0;
    const unsigned* types = pg_statement_types(statement, &count);
    PGresult* made = PQprepare(conn_, name, pg_statement_sql(statement), count,
                               types);
    if (made == nullptr || PQresultStatus(made) != PGRES_COMMAND_OK) {
      fail(made);
    }
    PQclear(made);
    prepared_[index] = true;
  }
  PGresult* result = PQexecPrepared(conn_, name, params.size(), params.values(),
                                    params.lengths(), params.formats(), 1);
  const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    fail(result);
  }
  return pg_rows(result);
}

void pg_connection::execute(const char* sql) {
  PGresult* result = PQexec(conn_, sql);
  const ExecStatusType status = result ? PQresultStatus(result) : PGRES_FATAL_ERROR;
  if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK) {
    fail(result);
  }
  PQclear(result);
}

bool pg_connection::broken() const { return PQstatus(conn_) != CONNECTION_OK; }

std::string pg_connection::database() const {
  const char* name = PQdb(conn_);
  return name ? name : "";
}

// ---- pg_transaction ------------------------------------------------------------------------

pg_transaction::pg_transaction(pg_connection& connection, const char* begin_sql)
    : connection_(connection) {
  connection_.execute(begin_sql);
}

pg_transaction::~pg_transaction() {
  if (!open_) return;
  try {
    connection_.execute("ROLLBACK");
  } catch (const pg_failure&) {
    // A connection that cannot roll back is broken and is not reused.
  }
}

void pg_transaction::commit() {
  open_ = false;
  connection_.execute("COMMIT");
}

std::optional<std::string> conninfo_problem(const std::string& conninfo) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
  if (options) {
    PQconninfoFree(options);
    return std::nullopt;
  }
  std::string message = error ? first_line(error) : std::string("out of memory");
  PQfreemem(error);
  return message;
}

}  // namespace ombrix
