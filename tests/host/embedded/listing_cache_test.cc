// The listing cache on its own, and the store's listings against every kind of change, made
// through the store or behind its back (as another process would, straight in SQLite).
#include "host/embedded/listing_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/embedded/account_store.h"
#include "host/embedded/sqlite_db.h"
#include "tests/host/host_contract.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

std::shared_ptr<const text> listing_of(std::size_t units, char16_t unit = u'x') {
  return std::make_shared<const text>(units, unit);
}

TEST(ListingCache, FoundOnlyForItsKeyAndGenerationWithinItsBounds) {
  listing_cache cache(3, 100);
  const listing_cache::key cust{7, 0, 0};
  cache.store(cust, 5, listing_of(10));
  ASSERT_NE(cache.find(cust, 5), nullptr);
  EXPECT_EQ(*cache.find(cust, 5), text(10, u'x'));
  // A later or earlier generation, another section, attribute or count.
  const std::pair<listing_cache::key, std::int64_t> misses[] = {{cust, 6}, {cust, 4}, {{8, 0, 0}, 5}, {{7, 16, 0}, 5}, {{7, 0, 2}, 5}};
  for (const auto& [listed, generation] : misses) EXPECT_EQ(cache.find(listed, generation), nullptr) << generation;
  // A newer generation drops the older listings; a late reader of an older one keeps nothing.
  cache.store({1, 0, 0}, 6, listing_of(20, u'y'));
  EXPECT_EQ(cache.find(cust, 5), nullptr);
  cache.store(cust, 5, listing_of(10));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.units(), 20u);
  // Entries: the least recently used goes; above a quarter of the unit bound nothing is kept.
  cache.store({2, 0, 0}, 6, listing_of(20));
  cache.store({3, 0, 0}, 6, listing_of(20));
  ASSERT_NE(cache.find({1, 0, 0}, 6), nullptr);  // 2 is now the least recently used
  cache.store({4, 0, 0}, 6, listing_of(25));
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.find({2, 0, 0}, 6), nullptr);
  EXPECT_NE(cache.find({1, 0, 0}, 6), nullptr);
  cache.store({6, 0, 0}, 6, listing_of(26));
  EXPECT_EQ(cache.find({6, 0, 0}, 6), nullptr);
}

class StoreListings : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    store_ = stores().open(u"SALES");
    store_->create_file(u"CUST", {u"HIST"});
  }
  void TearDown() override { store_.reset(), temporary_data_root::TearDown(); }
  std::shared_ptr<account_store> store_;
};

// A sink whose rendering is the listing's UTF-8; `result` is what it rendered or was handed.
class rendering_sink final : public item_text_sink {
 public:
  void begin(std::size_t) override {}
  void piece(std::u16string_view units) override { listing += units; }
  void end() override { result = std::make_shared<const std::string>(to_utf8(listing)); }
  std::shared_ptr<const std::string> rendering(std::size_t) override { return result; }
  bool reuse(const std::shared_ptr<const std::string>& kept) override { return result = kept, reused = true; }
  text listing;
  std::shared_ptr<const std::string> result;
  bool reused = false;
};

// Each step changes what a listing shows, through the store or behind its back as another
// process would (straight in SQLite); each listing is asked for twice (the second may come from
// the cache), as a text and through a sink whose rendering is kept, and must show the change.
TEST_F(StoreListings, EveryChangeShowsInTheNextListing) {
  using change = std::function<void(account_store&)>;
  const auto direct = [this](const char* sql) -> change {
    return [this, sql](account_store&) {
      sqlite_connection other(store_->path(), false);
      other.execute("PRAGMA busy_timeout = 5000");
      other.execute(sql);
    };
  };
  const struct {
    const char* what;
    change make;
    text file, expected;
    bool keeps = true;  // the second listing comes from the cache
  } steps[] = {
      {"write", [](account_store& s) { s.write(u"CUST", u"C1", u"abc"); }, u"CUST", u"C1|0|3"},
      {"rewrite, new size", [](account_store& s) { s.write(u"CUST", u"C1", u"abcdef"); }, u"CUST", u"C1|0|6"},
      {"create", [](account_store& s) { s.create_item(u"CUST", u"C0", u"z"); }, u"CUST", u"C0|0|1^C1|0|6"},
      {"remove", [](account_store& s) { s.remove(u"CUST", u"C0"); }, u"CUST", u"C1|0|6"},
      {"import", [](account_store& s) { s.import_items(u"CUST", {{u"C2", u"x"}, {u"C3", u"12"}}); }, u"CUST", u"C1|0|6^C2|0|1^C3|0|2"},
      {"another process changes a size", direct("UPDATE items SET size = 99 WHERE id = CAST('C1' AS BLOB)"), u"CUST", u"C1|0|99^C2|0|1^C3|0|2"},
      {"another process adds", direct("INSERT INTO bodies(units) VALUES(x'5900'); INSERT INTO items(section, id, size, body) SELECT section, x'43', 1, last_insert_rowid() FROM items WHERE id = CAST('C1' AS BLOB)"), u"CUST", u"C|0|1^C1|0|99^C2|0|1^C3|0|2"},
      {"another process deletes", direct("DELETE FROM items WHERE id IN (CAST('C2' AS BLOB), CAST('C3' AS BLOB))"), u"CUST", u"C|0|1^C1|0|99"},
      {"a new section", [](account_store& s) { s.create_file(u"CUST", {u"ARCHIVE"}); }, u"DICT CUST", u"ARCHIVE|16|0^CUST|16|0^HIST|16|0"},
      {"another process removes a section", direct("DELETE FROM sections WHERE host_name = CAST('CUST,ARCHIVE' AS BLOB)"), u"DICT CUST", u"CUST|16|0^HIST|16|0"},
      {"a new file", [](account_store& s) { s.create_file(u"ORDERS", {}); }, u"MD", u"CUST|16|0^MD|16|0^ORDERS|16|0"},
      // Once a trigger is gone, the generation no longer follows every change: nothing is kept.
      {"another process drops a trigger, then changes a size", direct("DROP TRIGGER items_updated; UPDATE items SET size = 7 WHERE id = CAST('C1' AS BLOB)"), u"CUST", u"C|0|1^C1|0|7", false},
      {"and again", direct("UPDATE items SET size = 8 WHERE id = CAST('C1' AS BLOB)"), u"CUST", u"C|0|1^C1|0|8", false},
  };
  for (const auto& s : steps) {
    SCOPED_TRACE(s.what);
    (void)store_->list(s.file, 0, 0);  // what was there before, now possibly kept
    s.make(*store_);
    const text expected = s.file + u"\r\n" + testing::marked(s.expected);
    EXPECT_EQ(store_->list(s.file, 0, 0), expected);
    EXPECT_EQ(store_->list(s.file, 0, 0), expected);
    for (const bool kept : {false, true}) {
      rendering_sink sink;
      store_->list_pieces(s.file, 0, 0, sink);
      ASSERT_NE(sink.result, nullptr);
      EXPECT_EQ(*sink.result, to_utf8(expected));
      EXPECT_EQ(sink.reused, kept && s.keeps);
    }
  }
}

}  // namespace
}  // namespace ombrix
