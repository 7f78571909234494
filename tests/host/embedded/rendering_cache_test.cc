// The rendering cache on its own, the store's piecewise reads with the renderings it keeps
// against changes made through the store or behind its back, and its piecewise writes.
#include "host/embedded/rendering_cache.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "host/embedded/account_store.h"
#include "host/embedded/sqlite_db.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

std::shared_ptr<const std::string> rendering_of(std::size_t bytes, char byte = 'x') {
  return std::make_shared<const std::string>(bytes, byte);
}

TEST(RenderingCache, FoundOnlyForItsItemAndGenerationWithinItsBounds) {
  rendering_cache cache(3, 400);
  cache.store("F", "A", 5, rendering_of(10));
  ASSERT_NE(cache.find("F", "A", 5), nullptr);
  EXPECT_EQ(*cache.find("F", "A", 5), std::string(10, 'x'));
  // Another generation, item or file; the two keys are not run together.
  for (const auto& [file, id, generation] : {std::tuple{"F", "A", 6}, {"F", "B", 5}, {"G", "A", 5}, {"FA", "", 5}}) EXPECT_EQ(cache.find(file, id, generation), nullptr) << file << id;

  // A newer generation drops the older renderings (the listing cache's test has the late reader).
  cache.store("F", "B", 6, rendering_of(20));
  EXPECT_EQ(cache.find("F", "A", 5), nullptr);
  EXPECT_EQ(cache.bytes(), 20u);

  // Entries: the least recently used goes; above a quarter of the bytes nothing is kept.
  cache.store("F", "C", 6, rendering_of(20));
  cache.store("F", "D", 6, rendering_of(20));
  ASSERT_NE(cache.find("F", "B", 6), nullptr);  // C is now the least recently used
  cache.store("F", "E", 6, rendering_of(20));
  EXPECT_EQ(cache.find("F", "C", 6), nullptr);
  EXPECT_NE(cache.find("F", "B", 6), nullptr);
  EXPECT_EQ(cache.max_rendering_bytes(), 100u);
  cache.store("F", "J", 6, rendering_of(101));
  EXPECT_EQ(cache.find("F", "J", 6), nullptr);
}

// What a sink saw: the announced length, the pieces, and whether it was offered a rendering.
class recording_sink final : public item_text_sink {
 public:
  void begin(std::size_t units) override { announced = units; }
  void piece(std::u16string_view units) override { largest_piece = std::max(largest_piece, units.size()), received += units; }
  void end() override { ended = true; }
  std::shared_ptr<const std::string> rendering(std::size_t max_bytes) override {
    asked = true;
    const auto made = std::make_shared<const std::string>("rendered " + to_utf8(received));
    return made->size() <= max_bytes ? made : nullptr;
  }
  bool reuse(const std::shared_ptr<const std::string>& kept) override { return reused = kept, true; }
  std::size_t announced = 0, largest_piece = 0;
  text received;
  bool ended = false, asked = false;
  std::shared_ptr<const std::string> reused;
};

class StorePieces : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    store_ = stores().open(u"SALES");
    store_->create_file(u"CUST", {});
  }
  void TearDown() override { store_.reset(), temporary_data_root::TearDown(); }
  recording_sink read(const text& id) {
    recording_sink sink;
    store_->read_pieces(u"CUST", id, sink);
    return sink;
  }
  std::shared_ptr<account_store> store_;
};

constexpr std::size_t large_units = 512 * 1024;  // 1 MiB stored: read in pieces

// A large text arrives whole in bounded pieces and its rendering is kept; it is offered again
// only while nothing in the account has changed, whoever changed it (regression: a rewrite at
// the same size changed no items row, so it bumped no generation and the kept reply went stale).
TEST_F(StorePieces, LargeTextsComeInPiecesAndTheirRenderingOnlyWhileUnchanged) {
  const text big(large_units + 3, u'b');
  store_->write(u"CUST", u"BIG", big);
  recording_sink first = read(u"BIG");
  EXPECT_EQ(first.announced, big.size());
  EXPECT_TRUE(first.received == big);
  EXPECT_LE(first.largest_piece, 32u * 1024);
  EXPECT_TRUE(first.ended && first.asked && first.reused == nullptr);

  recording_sink again = read(u"BIG");
  ASSERT_NE(again.reused, nullptr);
  EXPECT_EQ(*again.reused, "rendered " + to_utf8(big));
  EXPECT_TRUE(again.received.empty() && !again.ended);

  // A change anywhere in the account, a rewrite of the item at the same size, a change made
  // as another process makes it.
  text same_size = big;
  same_size[7] = u'c';
  const std::function<void()> changes[] = {
      [&] { store_->write(u"CUST", u"OTHER", u"x"); },
      [&] { store_->write(u"CUST", u"BIG", same_size); },
      [&] {
        sqlite_connection other(store_->path(), false);
        other.execute("PRAGMA busy_timeout = 5000");
        other.execute("UPDATE items SET size = 1 WHERE id = CAST('OTHER' AS BLOB)");
      }};
  for (std::size_t i = 0; i < std::size(changes); ++i) {
    ASSERT_NE(read(u"BIG").reused, nullptr) << i;
    changes[i]();
    recording_sink after = read(u"BIG");
    EXPECT_EQ(after.reused, nullptr) << i;
    EXPECT_TRUE(after.received == (i == 0 ? big : same_size)) << i;
  }
}

// A text handed on in pieces of the given sizes.
class pieces_source final : public item_text_source {
 public:
  pieces_source(text whole, std::vector<std::size_t> sizes, bool fail_midway = false)
      : whole_(std::move(whole)), sizes_(std::move(sizes)), fail_midway_(fail_midway) {}
  std::size_t units() const override { return whole_.size(); }
  void produce(const std::function<void(std::u16string_view)>& put) override {
    std::size_t at = 0;
    for (std::size_t i = 0; at < whole_.size(); ++i) {
      if (fail_midway_ && at > whole_.size() / 2) throw std::runtime_error("source failed");
      const std::size_t size = std::min(sizes_[i % sizes_.size()], whole_.size() - at);
      put(std::u16string_view(whole_).substr(at, size));
      at += size;
    }
  }

 private:
  text whole_;
  std::vector<std::size_t> sizes_;
  bool fail_midway_;
};

// A large text written in pieces is stored whole with its UTF-8 size, also when a surrogate
// pair falls across two pieces; a failing source or a refused id leaves the item as it was.
TEST_F(StorePieces, WrittenInPiecesTheTextAndItsSizeAreWhole) {
  text big(large_units + 5, u'a');
  big[1000] = u'\xD83D', big[1001] = u'\xDE00';  // a pair across the first two pieces of 1001 units
  big[5000] = u'\x00E9', big[6000] = u'\xD800';  // two bytes, and a lone surrogate: three
  const std::int64_t utf8_bytes = static_cast<std::int64_t>(big.size()) - 4 + 4 + 2 + 3;
  pieces_source source(big, {1001, 70000, 3});
  store_->write_pieces(u"CUST", u"W", source);
  EXPECT_TRUE(read(u"W").received == big);
  EXPECT_EQ(store_->stat(u"CUST", u"W"), u"0\r\n" + from_utf8(std::to_string(utf8_bytes)));
  pieces_source failing(text(large_units * 2, u'f'), {65536}, true);
  EXPECT_THROW(store_->write_pieces(u"CUST", u"W", failing), std::runtime_error);
  store_->create_file(u"CUST", {u"HIST"});
  EXPECT_EQ(testing::failure_of([&] { store_->write_pieces(u"DICT CUST", u"HIST", source); }).first, 207);
  EXPECT_TRUE(read(u"W").received == big);
}

}  // namespace
}  // namespace ombrix
