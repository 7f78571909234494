// The statement cache of sqlite_connection, and large values read piece by piece.
#include "host/embedded/sqlite_db.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ombrix {
namespace {

TEST(StatementCache, ReusesTheStatementOfTheSameSqlAndASlotReusedForOtherSqlFailsLoudly) {
  sqlite_connection c(":memory:", true);
  const std::size_t slot = sqlite_connection::first_user_slot;
  sqlite3_stmt* first = c.statement(slot, "SELECT 1");
  EXPECT_EQ(c.statement(slot, "SELECT 1"), first);
  EXPECT_THROW(c.statement(slot, "SELECT 2"), std::logic_error);
  statement_use q(c, c.statement(slot, "SELECT 1"));
  ASSERT_TRUE(q.step());
  EXPECT_EQ(q.column_int64(0), 1);
}

// The first `size` bytes of a value, in pieces of read_blob_piece bytes but the last, in order.
TEST(BlobReading, PiecesInOrderMakeTheValueUpToTheSizeAsked) {
  sqlite_connection c(":memory:", true);
  c.execute("CREATE TABLE t(b BLOB); INSERT INTO t VALUES(randomblob(200003));");
  std::string whole;
  {
    statement_use q(c, c.statement(sqlite_connection::first_user_slot, "SELECT b FROM t"));
    ASSERT_TRUE(q.step());
    whole = std::string(q.column_blob(0));
  }
  ASSERT_EQ(whole.size(), 200003u);
  constexpr std::size_t piece = sqlite_connection::read_blob_piece;
  for (const std::size_t size : {std::size_t{0}, std::size_t{1}, piece, piece + 1, std::size_t{200003}}) {
    SCOPED_TRACE(size);
    std::string read;
    std::vector<std::size_t> lengths;
    c.read_blob("t", "b", 1, size, [&](std::string_view p) { read.append(p), lengths.push_back(p.size()); });
    EXPECT_EQ(read, whole.substr(0, size));
    ASSERT_EQ(lengths.size(), (size + piece - 1) / piece);
    for (std::size_t i = 0; i + 1 < lengths.size(); ++i) EXPECT_EQ(lengths[i], piece);
  }
  EXPECT_THROW(c.read_blob("t", "b", 1, 200004, [](std::string_view) {}), sqlite_failure);
}

}  // namespace
}  // namespace ombrix
