// Modification times of the embedded store: kept by the database itself, whoever writes.
#include <gtest/gtest.h>

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

class ItemTimes : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    stores().open(u"SALES")->create_file(u"CUST", {});
    connect();
  }
  void connect() { (host_ = std::make_unique<embedded_host>(stores()))->connect(u"SALES**test"); }
  // Runs `sql` as a plain SQLite client of the account's database would.
  void plain_client(const char* sql) { sqlite_connection(root_ + "/SALES.db", false).execute(sql); }
  std::unique_ptr<embedded_host> host_;
};

// Every writer moves the time, a plain SQLite client changing an item's size too.
TEST_F(ItemTimes, EveryWriteMovesTheTimeAndASetTimeIsKept) {
  testing::check_item_times(*host_, u"CUST", [&] { plain_client("UPDATE items SET size = 7 WHERE id = x'42'"); });
}

// A database made before the times gains them when it is opened: its items have none until
// they are written, and everything else works as before.
TEST_F(ItemTimes, OlderDatabasesGainTimesWhenOpened) {
  host_->write_item(u"CUST", u"OLD", u"old", 0, 0, 0, 0);
  host_.reset();
  stores().release_unused();
  plain_client("DROP TRIGGER items_mtime_inserted; DROP TRIGGER items_mtime_updated; ALTER TABLE items DROP COLUMN mtime");
  EXPECT_FALSE(item_times_present(*std::make_unique<sqlite_connection>(root_ + "/SALES.db", false)));
  connect();
  EXPECT_TRUE(host_->list_item_times(u"CUST").empty());
  EXPECT_EQ(host_->read_item(u"CUST", u"OLD", 0, 0, 0, 0), u"old");
  const auto before = std::chrono::system_clock::now().time_since_epoch() / std::chrono::nanoseconds(1);
  host_->write_item(u"CUST", u"NEW", u"new", 0, 0, 0, 0);
  const auto times = host_->list_item_times(u"CUST");
  ASSERT_EQ(times.size(), 1u);
  EXPECT_EQ(to_utf8(times[0].first), "NEW");
  EXPECT_GE(times[0].second, before - 1000000) << "SQLite's clock counts milliseconds";
}

}  // namespace
}  // namespace ombrix
