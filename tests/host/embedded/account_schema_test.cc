// The account layout and its statements.
#include "host/embedded/account_schema.h"

#include <gtest/gtest.h>

#include <cstdint>
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

std::int64_t generation_of(sqlite_connection& c) {
  statement_use q = prepare(c, account_statement::read_generation);
  EXPECT_TRUE(q.step());
  return q.column_int64(0);
}

// Every committed change to items or sections bumps the generation; reads and rolled-back
// changes do not.
TEST(AccountSchema, TheGenerationCountsEveryCommittedChange) {
  sqlite_connection c(":memory:", true);
  create_schema(c);
  struct change {
    const char* sql;
    int bumps;
  };
  const change changes[] = {
      {"INSERT INTO sections(host_name, file, kind, entry) VALUES(x'41', x'41', 2, x'41')", 1},
      {"INSERT INTO bodies(units) VALUES(x'0000')", 0},
      {"INSERT INTO items(section, id, size, body) VALUES(1, x'31', 1, 1)", 1},
      {"INSERT INTO items(section, id, size, body) VALUES(1, x'32', 1, 1), (1, x'33', 1, 1)", 2},
      {"UPDATE items SET size = 5 WHERE id = x'31'", 1},
      {"DELETE FROM items WHERE section = 1", 3},
      {"UPDATE sections SET entry = x'42'", 1},
      {"DELETE FROM sections", 1},
      {"SELECT * FROM items", 0},
      {"BEGIN; INSERT INTO items(section, id, size, body) VALUES(1, x'34', 1, 1); ROLLBACK", 0},
  };
  for (const change& ch : changes) {
    SCOPED_TRACE(ch.sql);
    const std::int64_t before = generation_of(c);
    c.execute(ch.sql);
    EXPECT_EQ(generation_of(c), before + ch.bumps);
  }
}

// Adding the generation again changes nothing; a database missing one trigger has none until it
// is added back.
TEST(AccountSchema, TheGenerationIsAddedWhereMissingAndOnlyComplete) {
  sqlite_connection c(":memory:", true);
  create_schema(c);
  c.execute("INSERT INTO sections(host_name, file, kind, entry) VALUES(x'41', x'41', 2, x'41')");
  const std::int64_t now = generation_of(c);
  add_change_generation(c);
  EXPECT_EQ(generation_of(c), now);
  c.execute("DROP TRIGGER sections_deleted");
  {
    statement_use q = prepare(c, account_statement::read_generation);
    EXPECT_FALSE(q.step());
  }
  add_change_generation(c);
  EXPECT_EQ(generation_of(c), now);
  c.execute("DELETE FROM meta WHERE key = 'generation'");
  add_change_generation(c);
  c.execute("DELETE FROM sections");
  EXPECT_EQ(generation_of(c), 1);
}

}  // namespace
}  // namespace ombrix
