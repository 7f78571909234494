// The connection pool: reuse, its bound, and the retry of work that finds the database locked by
// another connection (standing in for another process), on an injected clock.
#include "host/embedded/connection_pool.h"

#include <gtest/gtest.h>

#include <chrono>
#include <vector>

#include "../temporary_data_root.h"
#include "host/embedded/account_schema.h"

namespace ombrix {
namespace {

using namespace std::chrono_literals;

class ConnectionPool : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    path_ = (base_ / "pool.db").string();
    sqlite_connection c(path_, true);
    create_schema(c);
    c.execute("PRAGMA journal_mode = WAL");
  }

  // Options with a fake clock that each pause moves forward, recording the pauses.
  connection_pool::options fake_time(std::chrono::milliseconds busy_limit) {
    connection_pool::options o;
    o.busy_limit = busy_limit;
    o.busy_timeout_milliseconds = 0;
    o.calls.now = [this] { return connection_pool::clock::time_point(elapsed_); };
    o.calls.sleep = [this](std::chrono::milliseconds d) { pauses_.push_back(d), elapsed_ += d, on_pause_ ? on_pause_() : void(); };
    return o;
  }

  static int count_bodies(sqlite_connection& c) {
    statement_use q(c, c.statement(sqlite_connection::first_user_slot + 100, "SELECT count(*) FROM bodies"));
    q.step();
    return static_cast<int>(q.column_int64(0));
  }

  static void insert_body(sqlite_connection& c) {
    transaction t(c, true);
    statement_use q = prepare(c, account_statement::insert_body);
    q.bind_blob(1, "x");
    q.run();
    t.commit();
  }

  std::string path_;
  std::chrono::milliseconds elapsed_{0};
  std::vector<std::chrono::milliseconds> pauses_;
  std::function<void()> on_pause_;
};

TEST_F(ConnectionPool, WriterBlockedPastTheLimitFailsWith206Quickly) {
  sqlite_connection other(path_, false);
  other.execute("BEGIN IMMEDIATE");  // another process's write lock
  connection_pool pool(path_, u"SALES", fake_time(30s));
  const auto [number, description] = testing::failure_of([&] { pool.run(true, insert_body); });
  EXPECT_EQ(number, 206);
  EXPECT_EQ(description,
            "Storage failure in account 'SALES': the database stayed locked by another process; "
            "try again later.");
  EXPECT_GE(elapsed_, 30s);
  // Pauses double from 1 ms and stay at 50 ms.
  ASSERT_GE(pauses_.size(), 8u);
  EXPECT_EQ(std::vector(pauses_.begin(), pauses_.begin() + 8), (std::vector{1ms, 2ms, 4ms, 8ms, 16ms, 32ms, 50ms, 50ms}));
  EXPECT_EQ(pauses_.back(), 50ms);
  other.execute("ROLLBACK");
}

TEST_F(ConnectionPool, WorkRetriedAfterTheLockIsGoneSucceedsOnce) {
  sqlite_connection other(path_, false);
  other.execute("BEGIN IMMEDIATE");
  on_pause_ = [&] {
    if (pauses_.size() == 3) other.execute("ROLLBACK");
  };
  connection_pool pool(path_, u"SALES", fake_time(30s));
  pool.run(true, insert_body);
  EXPECT_EQ(pauses_.size(), 3u);
  EXPECT_EQ(pool.run(false, count_bodies), 1);
}

TEST_F(ConnectionPool, FailuresAre206AndTheConnectionIsNotReusedAndAtMostMaxIdleAreKept) {
  connection_pool pool(path_, u"SALES", {});
  pool.run(false, count_bodies);
  EXPECT_EQ(pool.idle_count(), 1u);
  const auto [number, description] = testing::failure_of([&] {
    pool.run(false, [](sqlite_connection& c) { c.execute("SELECT * FROM missing_table"); });
  });
  EXPECT_EQ(number, 206);
  EXPECT_EQ(description, "Storage failure in account 'SALES': no such table: missing_table.");
  EXPECT_EQ(pool.idle_count(), 0u);
  connection_pool missing((base_ / "none" / "x.db").string(), u"SALES", {});
  EXPECT_EQ(testing::failure_of([&] { missing.run(false, count_bodies); }).first, 206);
  // Four calls inside each other hold four connections at once; two are kept.
  connection_pool::options o;
  o.max_idle = 2;
  connection_pool two(path_, u"SALES", o);
  two.run(false, [&](sqlite_connection&) {
    two.run(false, [&](sqlite_connection&) { two.run(false, [&](sqlite_connection&) { two.run(false, count_bodies); }); });
  });
  EXPECT_EQ(two.idle_count(), 2u);
}

}  // namespace
}  // namespace ombrix
