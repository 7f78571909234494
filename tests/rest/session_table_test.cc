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

TEST(session_table_test, FindsAddsAndRemovesById) {
  session_table table;
  EXPECT_EQ(table.find_session(""), nullptr);
  auto first = record("alpha**");
  table.add_session("1a", first);
  table.add_session("1b", record("beta**c"));
  table.add_session("1b", record("again**"));  // an existing id keeps the first record
  EXPECT_EQ(table.session_count(), 2u);
  EXPECT_EQ(table.find_session("1a"), first);
  EXPECT_EQ(table.find_session("1b")->server_text, "beta**c");
  EXPECT_EQ(table.find_session("1A"), nullptr);  // ids compare byte by byte
  table.remove_session("3");
  std::shared_ptr<const kelm_info> in_use = table.find_session("1a");
  table.remove_session("1a");
  EXPECT_EQ(table.session_count(), 1u);
  EXPECT_EQ(table.find_session("1a"), nullptr);
  EXPECT_EQ(in_use->server_text, "alpha**");  // a request keeps its record
}

// Regression: the table used to grow without bound, one entry per login never logged out.
TEST(session_table_test, BeyondCapacityTheLeastRecentlyUsedSessionEnds) {
  session_table table(3);
  for (const char* id : {"a", "b", "c"}) table.add_session(id, record(std::string(id) + "**"));
  ASSERT_NE(table.find_session("a"), nullptr);  // a is now the most recent, b the least
  table.add_session("d", record("d**"));
  EXPECT_EQ(table.session_count(), 3u);
  EXPECT_EQ(table.find_session("b"), nullptr);
  // A removed session frees its place; an id already present takes none.
  table.remove_session("c");
  table.add_session("a", record("again**"));
  table.add_session("e", record("e**"));
  EXPECT_EQ(table.session_count(), 3u);
  for (const char* kept : {"a", "d", "e"}) EXPECT_NE(table.find_session(kept), nullptr) << kept;
  EXPECT_EQ(table.find_session("a")->server_text, "a**");
}

// Many threads add, look up and remove at once; run under ThreadSanitizer as well.
TEST(session_table_test, ParallelAddsLookupsAndRemovesKeepTheTableConsistent) {
  constexpr int threads = 16;
  constexpr int per_thread = 200;
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
