// Modification times of the embedded store: kept by the database itself, whoever writes.
#include <gtest/gtest.h>
#include <time.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "host/embedded/account_schema.h"
#include "host/embedded/account_store.h"
#include "host/embedded/embedded_host.h"
#include "host/embedded/sqlite_db.h"
#include "tests/host/host_contract.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

std::int64_t now_nanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

constexpr std::int64_t millisecond = 1000000;

class ItemTimes : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    stores().open(u"SALES")->create_file(u"CUST", {});
    connect();
  }

  void connect() { (host_ = std::make_unique<embedded_host>(stores()))->connect(u"SALES**test"); }

  std::map<text, std::int64_t> times() {
    std::map<text, std::int64_t> out;
    for (auto& [id, nanoseconds] : host_->list_item_times(u"CUST")) out.emplace(id, nanoseconds);
    return out;
  }
  // The time of `id`; 0 when it has none.
  std::int64_t time_of(const text& id) {
    const auto all = times();
    return all.contains(id) ? all.at(id) : 0;
  }
  // Runs `sql` as a plain SQLite client of the account's database would.
  void plain_client(const char* sql) {
    sqlite_connection c(root_ + "/SALES.db", false);
    c.execute(sql);
  }
  // `time` was taken between `before` and now (SQLite's clock counts milliseconds).
  void expect_now(std::int64_t time, std::int64_t before) {
    EXPECT_GE(time, before - millisecond);
    EXPECT_LE(time, now_nanoseconds() + millisecond);
  }

  std::unique_ptr<embedded_host> host_;
};

// Every writer moves the time, a plain SQLite client changing an item's size or adding one too.
TEST_F(ItemTimes, EveryWriteMovesTheTimeAndASetTimeIsKept) {
  testing::check_item_times(*host_, u"CUST", [&] { plain_client("UPDATE items SET size = 7 WHERE id = x'42'"); });
  const std::int64_t before = now_nanoseconds();
  plain_client("INSERT INTO bodies(units) VALUES(x'5900');"
               "INSERT INTO items(section, id, size, body) SELECT section, x'43', 1, "
               "last_insert_rowid() FROM items WHERE id = x'42'");
  expect_now(time_of(u"C"), before);
}

// A database made before the times gains them when it is opened: its items have none until
// they are written, and everything else works as before.
TEST_F(ItemTimes, OlderDatabasesGainTimesWhenOpened) {
  host_->write_item(u"CUST", u"OLD", u"old", 0, 0, 0, 0);
  host_.reset();
  stores().release_unused();
  plain_client("DROP TRIGGER items_mtime_inserted; DROP TRIGGER items_mtime_updated;"
               "ALTER TABLE items DROP COLUMN mtime");
  {
    sqlite_connection c(root_ + "/SALES.db", false);
    EXPECT_FALSE(item_times_present(c));
  }
  connect();
  EXPECT_TRUE(times().empty());
  EXPECT_EQ(host_->read_item(u"CUST", u"OLD", 0, 0, 0, 0), u"old");
  const std::int64_t before = now_nanoseconds();
  host_->write_item(u"CUST", u"NEW", u"new", 0, 0, 0, 0);
  EXPECT_EQ(times().size(), 1u);
  expect_now(time_of(u"NEW"), before);
}

}  // namespace
}  // namespace ombrix
