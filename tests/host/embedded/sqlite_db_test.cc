// The statement cache of sqlite_connection.
#include "host/embedded/sqlite_db.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ombrix {
namespace {

TEST(StatementCache, ReusesTheStatementOfTheSameSql) {
  sqlite_connection c(":memory:", true);
  const std::size_t slot = sqlite_connection::first_user_slot;
  sqlite3_stmt* first = c.statement(slot, "SELECT 1");
  EXPECT_EQ(c.statement(slot, "SELECT 1"), first);
}

TEST(StatementCache, SlotReusedForOtherSqlFailsLoudly) {
  sqlite_connection c(":memory:", true);
  const std::size_t slot = sqlite_connection::first_user_slot;
  c.statement(slot, "SELECT 1");
  EXPECT_THROW(c.statement(slot, "SELECT 2"), std::logic_error);
  statement_use q(c, c.statement(slot, "SELECT 1"));
  ASSERT_TRUE(q.step());
  EXPECT_EQ(q.column_int64(0), 1);
}

}  // namespace
}  // namespace ombrix
