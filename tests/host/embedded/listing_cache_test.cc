// The listing cache on its own, and the store's listings against every kind of change, made
// through the store or behind its back (as another process would, straight in SQLite).
#include "host/embedded/listing_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/embedded/account_store.h"
#include "host/embedded/sqlite_db.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

std::shared_ptr<const text> listing_of(std::size_t units, char16_t unit = u'x') {
  return std::make_shared<const text>(units, unit);
}

TEST(ListingCache, AListingIsFoundOnlyForItsOwnKeyAndGeneration) {
  listing_cache cache(8, 1000);
  const listing_cache::key cust{7, 0, 0};
  cache.store(cust, 5, listing_of(10));
  ASSERT_NE(cache.find(cust, 5), nullptr);
  EXPECT_EQ(*cache.find(cust, 5), text(10, u'x'));
  struct miss {
    const char* what;
    listing_cache::key listed;
    std::int64_t generation;
  };
  for (const miss& m : {miss{"a later generation", cust, 6}, miss{"an earlier one", cust, 4},
                        miss{"another section", {8, 0, 0}, 5},
                        miss{"another attribute", {7, 16, 0}, 5},
                        miss{"another count", {7, 0, 2}, 5}}) {
    EXPECT_EQ(cache.find(m.listed, m.generation), nullptr) << m.what;
  }
}

TEST(ListingCache, ANewerGenerationDropsTheOlderListingsAndAnOlderOneIsNotKept) {
  listing_cache cache(8, 1000);
  cache.store({1, 0, 0}, 3, listing_of(10));
  cache.store({2, 0, 0}, 3, listing_of(20));
  EXPECT_EQ(cache.size(), 2u);
  cache.store({1, 0, 0}, 4, listing_of(30, u'y'));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.units(), 30u);
  EXPECT_EQ(cache.find({2, 0, 0}, 3), nullptr);
  // A reader whose snapshot predates generation 4 finishes late: its listing is not kept.
  cache.store({2, 0, 0}, 3, listing_of(20));
  EXPECT_EQ(cache.size(), 1u);
  EXPECT_EQ(cache.find({2, 0, 0}, 3), nullptr);
  // The same key again at the same generation replaces the listing.
  cache.store({1, 0, 0}, 4, listing_of(5, u'z'));
  EXPECT_EQ(*cache.find({1, 0, 0}, 4), text(5, u'z'));
  EXPECT_EQ(cache.units(), 5u);
}

TEST(ListingCache, BoundsDropTheLeastRecentlyUsedAndRefuseLongListings) {
  listing_cache cache(3, 100);
  for (std::int64_t section = 1; section <= 3; ++section) {
    cache.store({section, 0, 0}, 1, listing_of(20));
  }
  ASSERT_NE(cache.find({1, 0, 0}, 1), nullptr);  // 2 is now the least recently used
  cache.store({4, 0, 0}, 1, listing_of(20));
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.find({2, 0, 0}, 1), nullptr);
  EXPECT_NE(cache.find({1, 0, 0}, 1), nullptr);
  // The unit bound: 60 kept + 25 would pass 80 ... so the oldest go until it fits.
  cache.store({5, 0, 0}, 1, listing_of(25));
  EXPECT_LE(cache.units(), 100u);
  EXPECT_NE(cache.find({5, 0, 0}, 1), nullptr);
  // A listing above a quarter of the bound is never kept.
  cache.store({6, 0, 0}, 1, listing_of(26));
  EXPECT_EQ(cache.find({6, 0, 0}, 1), nullptr);
  listing_cache none(0, 100);
  none.store({1, 0, 0}, 1, listing_of(1));
  EXPECT_EQ(none.size(), 0u);
}

// ---- the store's listings

constexpr char16_t sm = subvalue_mark;
constexpr char16_t vm = value_mark;

class StoreListings : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    store_ = stores().open(u"SALES");
    store_->create_file(u"CUST", {u"HIST"});
  }
  void TearDown() override {
    store_.reset();
    temporary_data_root::TearDown();
  }
  // A change made behind the store's back, as another process would make it.
  void change_directly(const char* sql) {
    sqlite_connection other(store_->path(), false);
    other.execute("PRAGMA busy_timeout = 5000");
    other.execute(sql);
  }
  std::shared_ptr<account_store> store_;
};

text entry(std::u16string_view name, std::u16string_view attributes, std::u16string_view size) {
  text out(name);
  out.push_back(sm);
  out += attributes;
  out.push_back(sm);
  out += size;
  return out;
}

text joined(std::initializer_list<text> entries, const text& file) {
  text out = file + u"\r\n";
  bool first = true;
  for (const text& e : entries) {
    if (!first) out.push_back(vm);
    out += e;
    first = false;
  }
  return out;
}

// A sink whose rendering is the listing's UTF-8; `result` is what it rendered or was handed.
class rendering_sink final : public item_text_sink {
 public:
  void begin(std::size_t) override {}
  void piece(std::u16string_view units) override { listing += units; }
  void end() override { result = std::make_shared<const std::string>(to_utf8(listing)); }
  std::shared_ptr<const std::string> rendering(std::size_t) override { return result; }
  bool reuse(const std::shared_ptr<const std::string>& kept) override {
    result = kept;
    reused = true;
    return true;
  }
  text listing;
  std::shared_ptr<const std::string> result;
  bool reused = false;
};

// Each step changes what a listing shows; each listing is asked for twice (the second may come
// from the cache), as a text and through a sink whose rendering is kept, and must show the
// change at once.
TEST_F(StoreListings, EveryChangeShowsInTheNextListing) {
  struct step {
    const char* what;
    std::function<void(account_store&)> change;
    text file;
    text expected;
  };
  const auto direct = [this](const char* sql) {
    return [this, sql](account_store&) { change_directly(sql); };
  };
  const std::vector<step> steps = {
      {"write", [](account_store& s) { s.write(u"CUST", u"C1", u"abc"); }, u"CUST",
       joined({entry(u"C1", u"0", u"3")}, u"CUST")},
      {"rewrite, new size", [](account_store& s) { s.write(u"CUST", u"C1", u"abcdef"); },
       u"CUST", joined({entry(u"C1", u"0", u"6")}, u"CUST")},
      {"create", [](account_store& s) { s.create_item(u"CUST", u"C0", u"z"); }, u"CUST",
       joined({entry(u"C0", u"0", u"1"), entry(u"C1", u"0", u"6")}, u"CUST")},
      {"copy", [](account_store& s) { s.copy(u"CUST", u"C0", u"C2", false); }, u"CUST",
       joined({entry(u"C0", u"0", u"1"), entry(u"C1", u"0", u"6"), entry(u"C2", u"0", u"1")},
              u"CUST")},
      {"remove", [](account_store& s) { s.remove(u"CUST", u"C0"); }, u"CUST",
       joined({entry(u"C1", u"0", u"6"), entry(u"C2", u"0", u"1")}, u"CUST")},
      {"import", [](account_store& s) { s.import_items(u"CUST", {{u"C3", u"12"}}); }, u"CUST",
       joined({entry(u"C1", u"0", u"6"), entry(u"C2", u"0", u"1"), entry(u"C3", u"0", u"2")},
              u"CUST")},
      {"another process changes a size", direct("UPDATE items SET size = 99 WHERE id = CAST('C1' AS BLOB)"),
       u"CUST",
       joined({entry(u"C1", u"0", u"99"), entry(u"C2", u"0", u"1"), entry(u"C3", u"0", u"2")},
              u"CUST")},
      {"another process deletes", direct("DELETE FROM items WHERE id IN (CAST('C2' AS BLOB), CAST('C3' AS BLOB))"), u"CUST",
       joined({entry(u"C1", u"0", u"99")}, u"CUST")},
      {"a new section shows in the dictionary",
       [](account_store& s) { s.create_file(u"CUST", {u"ARCHIVE"}); }, u"DICT CUST",
       joined({entry(u"ARCHIVE", u"16", u"0"), entry(u"CUST", u"16", u"0"),
               entry(u"HIST", u"16", u"0")},
              u"DICT CUST")},
      {"another process removes a section",
       direct("DELETE FROM sections WHERE host_name = CAST('CUST,ARCHIVE' AS BLOB)"), u"DICT CUST",
       joined({entry(u"CUST", u"16", u"0"), entry(u"HIST", u"16", u"0")}, u"DICT CUST")},
      {"a new file shows in the master dictionary",
       [](account_store& s) { s.create_file(u"ORDERS", {}); }, u"MD",
       joined({entry(u"CUST", u"16", u"0"), entry(u"MD", u"16", u"0"),
               entry(u"ORDERS", u"16", u"0")},
              u"MD")},
  };
  for (const step& s : steps) {
    SCOPED_TRACE(s.what);
    (void)store_->list(s.file, 0, 0);  // what was there before, now possibly kept
    s.change(*store_);
    EXPECT_EQ(store_->list(s.file, 0, 0), s.expected);
    EXPECT_EQ(store_->list(s.file, 0, 0), s.expected);
    for (const bool kept : {false, true}) {
      rendering_sink sink;
      store_->list_pieces(s.file, 0, 0, sink);
      ASSERT_NE(sink.result, nullptr);
      EXPECT_EQ(*sink.result, to_utf8(s.expected));
      EXPECT_EQ(sink.reused, kept);
    }
  }
}

// I0, I1, ... (appended: GCC 12 warns falsely about u"I" + temporary text).
text item_name(int number) {
  text name(u"I");
  name.push_back(static_cast<char16_t>(u'0' + number));
  return name;
}

// Writers make items longer and longer while listers list: no listing may ever show an item
// shorter than an earlier listing of the same thread showed it (a listing kept too long would),
// and the last listing shows the last writes.
TEST_F(StoreListings, ListingsNeverGoBackWhileWritersChangeTheFile) {
  constexpr int items = 4, versions = 150;
  std::atomic<bool> failed{false};
  std::vector<std::thread> threads;
  for (int w = 0; w < items; ++w) {
    threads.emplace_back([&, w] {
      const text id = item_name(w);
      for (int v = 1; v <= versions; ++v) store_->write(u"CUST", id, text(v, u'x'));
    });
  }
  for (int l = 0; l < 2; ++l) {
    threads.emplace_back([&] {
      std::vector<std::int64_t> seen(items, 0);
      for (int round = 0; round < 300 && !failed; ++round) {
        const text listing = store_->list(u"CUST", 0, 0);
        for (int w = 0; w < items; ++w) {
          text name = item_name(w);
          name.push_back(sm);
          const std::size_t at = listing.find(name);
          if (at == text::npos) continue;
          const std::size_t size_at = listing.find(sm, at + name.size()) + 1;
          const std::int64_t size = std::stoll(to_utf8(listing.substr(
              size_at, listing.find_first_of(text(1, vm), size_at) - size_at)));
          if (size < seen[w]) failed = true;
          seen[w] = size;
        }
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_FALSE(failed) << "a listing showed an older state after a newer one";
  text expected = u"CUST\r\n";
  for (int w = 0; w < items; ++w) {
    if (w > 0) expected.push_back(vm);
    expected += entry(item_name(w), u"0",
                      from_utf8(std::to_string(versions)));
  }
  EXPECT_EQ(store_->list(u"CUST", 0, 0), expected);
}

}  // namespace
}  // namespace ombrix
