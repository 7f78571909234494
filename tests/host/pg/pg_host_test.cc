// The PostgreSQL host keeps the host contract; and what only a shared database has: accounts by
// catalog id, changes by other processes in cached listings, races between two stores, start-up
// failures.
#include "host/pg/pg_host.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "host/pg/pg_store.h"
#include "tests/host/host_contract.h"
#include "tests/host/pg/pg_test_database.h"

namespace ombrix {
namespace {

using testing::failure_of;

// The id `letter` followed by the digits of `number`.
text numbered(char16_t letter, int number) { text id(1, letter); return id += from_utf8(std::to_string(number)); }

class PgHostContract : public testing::pg_data_root_test {
 protected:
  void SetUp() override {
    pg_data_root_test::SetUp();
    if (IsSkipped() || HasFatalFailure()) return;
    store_ = pg_store::open(database_->conninfo());
  }
  void TearDown() override {
    store_.reset();
    pg_data_root_test::TearDown();
  }
  std::shared_ptr<pg_store> store_;
};

TEST_F(PgHostContract, KeepsTheHostContract) {
  store_->create_account(u"SALES", u"MD");
  store_->account(u"SALES")->create_file(u"CUST", {u"HIST"});
  pg_host host(store_, u"MAIN");
  host.connect(u"SALES**dev");
  testing::check_host_contract(host);
}

TEST_F(PgHostContract, AccountsAreFoundByNameWhateverTheirLength) {
  const text longest(64, u'A');
  ASSERT_NO_THROW(store_->create_account(longest, u"LMD"));
  pg_host host(store_, u"MAIN");
  host.connect(longest + u"**c");
  EXPECT_EQ(host.get_property_5(), u"LMD");
  EXPECT_EQ(host.list_items(u"LMD", 0, 0, u"", u"-1"), testing::marked(u"LMD\r\nLMD|16|0"));
  EXPECT_EQ(failure_of([&] { store_->create_account(longest, u"MD"); }), std::make_pair(204, "Account '" + to_utf8(longest) + "' already exists."));
  EXPECT_EQ(failure_of([&] { store_->create_account(text(65, u'A'), u"MD"); }).first, 201);
  EXPECT_EQ(failure_of([&] { pg_host(store_, u"MAIN").connect(u"NOSUCH**c"); }),
            std::make_pair(201, std::string("Account 'NOSUCH' not found.")));
}

// Each pg_store stands for one server process: its own pool and listing cache.
TEST_F(PgHostContract, CachedListingsShowChangesOfOtherServersAndOfPlainSql) {
  store_->create_account(u"T", u"MD");
  std::shared_ptr<pg_store> other = pg_store::open(database_->conninfo());
  std::shared_ptr<pg_account> mine = store_->account(u"T");
  std::shared_ptr<pg_account> theirs = other->account(u"T");
  using testing::marked;
  mine->create_file(u"F", {});
  EXPECT_EQ(mine->list(u"F", 0, 0), u"F\r\n");
  theirs->write(u"F", u"X", u"abc");
  EXPECT_EQ(mine->list(u"F", 0, 0), marked(u"F\r\nX|0|3"));
  ASSERT_EQ(testing::run_sql(database_->conninfo(), "UPDATE ombrix.items SET size = 7 WHERE id = 'X'"), "");
  EXPECT_EQ(mine->list(u"F", 0, 0), marked(u"F\r\nX|0|7"));
  // Enough changes that the listing folds them into the catalog: the generation goes on
  // counting, so the next change is seen again.
  std::vector<account_store::item> many;
  for (int i = 0; i < 600; ++i) many.push_back({numbered(u'I', i), u"x"});
  theirs->import_items(u"F", many);
  EXPECT_EQ(mine->entries(u"F", 0, 0).size(), 601u);
  EXPECT_EQ(mine->list(u"F", 0, 2), marked(u"F\r\nI0|0|1^I1|0|1"));
  EXPECT_EQ(mine->list(u"F", 0, 2), marked(u"F\r\nI0|0|1^I1|0|1"));
  std::string changes;
  ASSERT_EQ(testing::run_sql(database_->conninfo(), "SELECT count(*) FROM ombrix.changes", &changes), "");
  EXPECT_EQ(changes, "0") << "folded";
  theirs->remove(u"F", u"I0");
  EXPECT_EQ(mine->list(u"F", 0, 2), marked(u"F\r\nI1|0|1^I10|0|1"));
  theirs->create_file(u"G", {});
  EXPECT_EQ(mine->list(u"MD", 16, 0), marked(u"MD\r\nF|16|0^G|16|0^MD|16|0"));
}

TEST_F(PgHostContract, ItemTimesAreKeptByTheDatabaseWhoeverWrites) {
  store_->create_account(u"T", u"MD");
  pg_host host(store_, u"MAIN");
  host.connect(u"T**c");
  testing::check_item_times(host, u"MD", [&] {
    ASSERT_EQ(testing::run_sql(database_->conninfo(), "UPDATE ombrix.items SET units = '\\x4100' WHERE id = 'B'"), "");
  });
}

// Two stores on one database, two threads each: moves of one item between four ids, COPY
// without overwrite onto one id, and creation of one id race. No item is lost or doubled, and
// exactly one COPY and one create win each round.
TEST_F(PgHostContract, RacingServersLoseAndDoubleNothing) {
  store_->create_account(u"R", u"MD");
  std::shared_ptr<pg_store> other = pg_store::open(database_->conninfo());
  std::shared_ptr<pg_account> accounts[2] = {store_->account(u"R"), other->account(u"R")};
  accounts[0]->create_file(u"F", {});
  accounts[0]->write(u"F", u"M0", u"moving");
  constexpr int rounds = 60;
  std::atomic<int> copies{0}, creates{0}, unexpected{0};
  const auto racer = [&](int who) {
    pg_account& a = *accounts[who % 2];
    for (int round = 0; round < rounds; ++round) {
      const text from = numbered(u'M', (round + who) % 4);
      const text to = numbered(u'M', (round + who + 1) % 4);
      const int moved = failure_of([&] { a.move(u"F", from, to, false); }).first;
      if (moved != 0 && moved != 202 && moved != 204) ++unexpected;
      if (failure_of([&] { a.copy(u"F", u"M0", numbered(u'K', round), false); }).first == 0) ++copies;
      if (failure_of([&] { a.create_item(u"F", numbered(u'N', round), u"n"); }).first == 0) ++creates;
    }
  };
  std::vector<std::thread> threads;
  for (int who = 0; who < 4; ++who) threads.emplace_back(racer, who);
  for (auto& t : threads) t.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(creates.load(), rounds) << "one winner per created id";
  int moving = 0, copied_items = 0;
  for (const listing_entry& e : accounts[1]->entries(u"F", 0, 0)) {
    moving += e.name.starts_with(u"M");
    copied_items += e.name.starts_with(u"K");
  }
  EXPECT_EQ(moving, 1) << "the moved item exists under exactly one id";
  EXPECT_EQ(copied_items, copies.load()) << "every acknowledged COPY, and no other";
  EXPECT_EQ(accounts[0]->list(u"F", 0, 0), accounts[1]->list(u"F", 0, 0));
}

// Another session holds the row (as a stalled server would): rename and COPY wait for it up to
// the bound (30 s in the server, 1 s here), then fail with 206 and leave everything as it was.
TEST_F(PgHostContract, ALockHeldTooLongIsStorageFailure) {
  store_->create_account(u"L", u"MD");
  pg_pool::options quick;
  quick.lock_wait = std::chrono::milliseconds(1000);
  std::shared_ptr<pg_store> impatient = pg_store::open(database_->conninfo(), quick);
  std::shared_ptr<pg_account> account = impatient->account(u"L");
  account->create_file(u"F", {});
  account->write(u"F", u"A", u"a");
  pg_connection holder(database_->conninfo(), "SELECT 1");
  holder.execute("BEGIN");
  holder.execute("SELECT 1 FROM ombrix.items WHERE id = 'A' FOR UPDATE");
  const std::string expected =
      "Storage failure in account 'L': another transaction held a lock for longer than 1 s "
      "(canceling statement due to lock timeout).";
  EXPECT_EQ(failure_of([&] { account->move(u"F", u"A", u"B", false); }), std::make_pair(206, expected));
  EXPECT_EQ(failure_of([&] { account->copy(u"F", u"A", u"C", false); }), std::make_pair(206, expected));
  holder.execute("ROLLBACK");
  EXPECT_EQ(account->list(u"F", 0, 0), testing::marked(u"F\r\nA|0|1"));
  EXPECT_NO_THROW(account->move(u"F", u"A", u"B", false)) << "free again";
}

// A connection given back goes at once to a call that waits for one: the waiter is woken, it does
// not sit out the wait bound (10 s here) with the connection idle.
TEST_F(PgHostContract, AFreedConnectionGoesAtOnceToAWaitingCall) {
  pg_pool pool(database_->conninfo(),
               pg_pool::options{.max_connections = 1, .borrow_wait = std::chrono::seconds(10)});
  std::atomic<bool> holding{false};
  std::thread holder([&] {
    pool.run(u"A", true, [&](pg_connection&) {
      holding = true;
      std::this_thread::sleep_for(std::chrono::milliseconds(300));
    });
  });
  while (!holding) std::this_thread::yield();
  const auto start = std::chrono::steady_clock::now();
  pool.run(u"A", true, [](pg_connection&) {});
  const auto waited = std::chrono::steady_clock::now() - start;
  holder.join();
  EXPECT_LT(waited, std::chrono::seconds(5));
}

// The borrow wait runs by the seam's clock and its refusal names the configured bound: with a
// clock that jumps a minute per reading, a call that finds the only connection busy is refused
// at once, while the holder still holds it (at most 5 s), instead of waiting out the 60 s and
// then getting the connection.
TEST_F(PgHostContract, TheBorrowWaitRunsByTheSeamsClockAndNamesItsBound) {
  std::atomic<std::int64_t> minutes{0};
  pg_pool::options options{.max_connections = 1, .borrow_wait = std::chrono::seconds(60)};
  options.calls.now = [&] {
    return platform::seam::clock::time_point(std::chrono::minutes(minutes++));
  };
  pg_pool pool(database_->conninfo(), options);
  std::atomic<bool> holding{false}, release{false};
  std::thread holder([&] {
    pool.run(u"A", true, [&](pg_connection&) {
      holding = true;
      for (int i = 0; i < 500 && !release; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    });
  });
  while (!holding) std::this_thread::yield();
  EXPECT_EQ(failure_of([&] { pool.run(u"A", true, [](pg_connection&) {}); }),
            std::make_pair(206, std::string("Storage failure in account 'A': no database connection "
                                            "came free within 60 s.")));
  release = true;
  holder.join();
}

}  // namespace
}  // namespace ombrix
