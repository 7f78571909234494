#include "rest/session_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ombrix {
namespace {

std::shared_ptr<const kelm_info> record(std::string server) {
  return std::make_shared<const kelm_info>(kelm_info{std::move(server), "SALES", "MD"});
}

// Regression: the table used to grow without bound, one entry per login never logged out.
TEST(session_table_test, FindsAddsAndRemovesByIdAndEndsTheLeastRecentlyUsedBeyondCapacity) {
  session_table table(3);
  EXPECT_EQ(table.find_session(""), nullptr);
  auto first = record("a**");
  table.add_session("a", first);
  table.add_session("b", record("b**"));
  table.add_session("b", record("again**"));  // an existing id keeps the first record
  table.add_session("c", record("c**"));
  EXPECT_EQ(table.find_session("a"), first);  // a is now the most recent, b the least
  EXPECT_EQ(table.find_session("B"), nullptr);  // ids compare byte by byte
  table.add_session("d", record("d**"));
  EXPECT_EQ(table.session_count(), 3u);
  EXPECT_EQ(table.find_session("b"), nullptr);
  // A removed session frees its place; an id already present takes none; a request keeps its
  // record.
  table.remove_session("c");
  table.remove_session("zz");
  table.add_session("a", record("again**"));
  table.add_session("e", record("e**"));
  EXPECT_EQ(table.session_count(), 3u);
  for (const char* kept : {"a", "d", "e"}) EXPECT_NE(table.find_session(kept), nullptr) << kept;
  table.remove_session("a");
  EXPECT_EQ(table.find_session("a"), nullptr);
  EXPECT_EQ(first->server_text, "a**");
}

// Many threads add, look up and remove at once; run under ThreadSanitizer as well.
TEST(session_table_test, ParallelAddsLookupsAndRemovesKeepTheTableConsistent) {
  constexpr int threads = 16, per_thread = 200;
  session_table table;
  std::atomic<int> wrong_records{0};
  std::vector<std::thread> workers;
  for (int t = 0; t < threads; ++t) {
    workers.emplace_back([&, t] {
      for (int i = 0; i < per_thread; ++i) {
        const std::string id = std::to_string(t) + ":" + std::to_string(i);
        table.add_session(id, record("server" + id));
        auto found = table.find_session(id);
        if (!found || found->server_text != "server" + id) ++wrong_records;
        if (i % 2 == 1) table.remove_session(id);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(wrong_records.load(), 0);
  EXPECT_EQ(table.session_count(), static_cast<std::size_t>(threads * per_thread / 2));
}

}  // namespace
}  // namespace ombrix
