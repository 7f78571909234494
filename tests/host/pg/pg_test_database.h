// Test support for the PostgreSQL host: a fresh database per test in the cluster whose
// maintenance database OMBRIX_TEST_POSTGRES names (scripts/pg_cluster.sh start prints it); the
// tests are skipped without it. Not thread-safe: one fixture object belongs to one test thread.
#pragma once

#include <gtest/gtest.h>
#include <libpq-fe.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "tests/host/temporary_data_root.h"

namespace ombrix::testing {

// The cluster's maintenance connection text, or empty.
inline std::string test_cluster() {
  const char* value = std::getenv("OMBRIX_TEST_POSTGRES");
  return value ? value : "";
}

// `base` with its database replaced by `database`, as key=value words.
inline std::string with_database(const std::string& base, const std::string& database) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(base.c_str(), &error);
  if (options == nullptr) {
    PQfreemem(error);
    return {};
  }
  std::string out;
  out.append("dbname='").append(database).append("'");
  for (PQconninfoOption* o = options; o->keyword != nullptr; ++o) {
    if (o->val == nullptr || std::string_view(o->keyword) == "dbname") continue;
    out.append(" ").append(o->keyword).append("='").append(o->val).append("'");
  }
  PQconninfoFree(options);
  return out;
}

// Runs `sql` on the database `conninfo` names; an empty text on success, else the error. With
// `value`, also the first column of the first row.
inline std::string run_sql(const std::string& conninfo, const std::string& sql, std::string* value = nullptr) {
  PGconn* conn = PQconnectdb(conninfo.c_str());
  PQsetNoticeProcessor(conn, [](void*, const char*) {}, nullptr);
  std::string failure;
  if (PQstatus(conn) != CONNECTION_OK) {
    failure = PQerrorMessage(conn);
  } else {
    PGresult* result = PQexec(conn, sql.c_str());
    const ExecStatusType status = PQresultStatus(result);
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) failure = PQerrorMessage(conn);
    if (value && status == PGRES_TUPLES_OK && PQntuples(result) > 0) *value = PQgetvalue(result, 0, 0);
    PQclear(result);
  }
  PQfinish(conn);
  return failure;
}

// A database made for one test and dropped after it.
class test_database {
 public:
  test_database() : cluster_(test_cluster()) {
    static std::atomic<int> counter{0};
    name_ = "ombrix_t" + std::to_string(::getpid()) + "_" + std::to_string(counter++);
    failure_ = run_sql(cluster_, "DROP DATABASE IF EXISTS " + name_);
    if (failure_.empty()) failure_ = run_sql(cluster_, "CREATE DATABASE " + name_);
    conninfo_ = with_database(cluster_, name_);
  }
  ~test_database() { run_sql(cluster_, "DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }
  test_database(const test_database&) = delete;
  test_database& operator=(const test_database&) = delete;

  const std::string& failure() const { return failure_; }
  const std::string& conninfo() const { return conninfo_; }
  const std::string& name() const { return name_; }

 private:
  std::string cluster_;
  std::string name_;
  std::string conninfo_;
  std::string failure_;
};

// A data root (temporary_data_root) and a database of its own for a test; the test is skipped
// when no cluster is given.
class pg_data_root_test : public temporary_data_root {
 protected:
  void SetUp() override {
    if (test_cluster().empty()) {
      GTEST_SKIP() << "OMBRIX_TEST_POSTGRES is not set: start a cluster with "
                      "scripts/pg_cluster.sh start DIR and export its URI to run these tests";
    }
    temporary_data_root::SetUp();
    database_ = std::make_unique<test_database>();
    ASSERT_EQ(database_->failure(), "");
  }
  void TearDown() override {
    database_.reset();
    if (!test_cluster().empty()) temporary_data_root::TearDown();
  }
  std::unique_ptr<test_database> database_;
};

}  // namespace ombrix::testing
