// The account layout and its statements.
#include "host/embedded/account_schema.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrix {
namespace {

// Every statement of the enum is valid SQL for the tables the schema creates, and each has a
// slot of its own (a shared slot would make the second prepare throw).
TEST(AccountSchema, EveryStatementPreparesOnANewDatabase) {
  sqlite_connection c(":memory:", true);
  create_schema(c);
  for (std::size_t i = 0; i < static_cast<std::size_t>(account_statement::count); ++i) {
    const auto statement = static_cast<account_statement>(i);
    SCOPED_TRACE(statement_sql(statement));
    EXPECT_NO_THROW({ statement_use q = prepare(c, statement); });
  }
  statement_use meta = prepare(c, account_statement::read_meta);
  ASSERT_TRUE(meta.step());
  EXPECT_EQ(meta.column_blob(1), "1");  // format
}

TEST(AccountSchema, ConnectionSettingsTakeTheBusyTimeOut) {
  sqlite_connection c(":memory:", true);
  configure_connection(c, 1234);
  statement_use q(c, c.statement(sqlite_connection::first_user_slot, "PRAGMA busy_timeout"));
  ASSERT_TRUE(q.step());
  EXPECT_EQ(q.column_int64(0), 1234);
}

}  // namespace
}  // namespace ombrix
