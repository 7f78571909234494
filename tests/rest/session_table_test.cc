#include "rest/session_table.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ombrix {
namespace {

std::shared_ptr<const kelm_info> record(std::string server, std::string account = "SALES",
                                        std::string md = "MD") {
  return std::make_shared<const kelm_info>(
      kelm_info{std::move(server), std::move(account), std::move(md)});
}

TEST(session_table_test, FindsTheRecordAddedUnderAnId) {
  session_table table;
  EXPECT_EQ(table.session_count(), 0u);
  EXPECT_EQ(table.find_session(""), nullptr);
  auto first = record("alpha**");
  auto second = record("beta**c");
  table.add_session("1a", first);
  table.add_session("1b", second);
  table.add_session("1b", record("again**"));  // an existing id keeps the first record
  EXPECT_EQ(table.session_count(), 2u);
  EXPECT_EQ(table.find_session("1a"), first);
  EXPECT_EQ(table.find_session("1b"), second);
  // Ids compare byte by byte.
  EXPECT_EQ(table.find_session("1A"), nullptr);
  EXPECT_EQ(table.find_session("1a "), nullptr);
}

TEST(session_table_test, RemoveErasesOnlyThatIdAndIgnoresUnknownIds) {
  session_table table;
  table.add_session("1", record("a**"));
  table.add_session("2", record("b**"));
  table.remove_session("3");
  EXPECT_EQ(table.session_count(), 2u);
  table.remove_session("1");
  EXPECT_EQ(table.session_count(), 1u);
  EXPECT_EQ(table.find_session("1"), nullptr);
  ASSERT_NE(table.find_session("2"), nullptr);
  table.remove_session("1");
  EXPECT_EQ(table.session_count(), 1u);
}

TEST(session_table_test, ARequestKeepsItsRecordAfterTheSessionIsRemoved) {
  session_table table;
  table.add_session("5", record("srv**cl", "ACC", "VOC"));
  std::shared_ptr<const kelm_info> in_use = table.find_session("5");
  table.remove_session("5");
  ASSERT_NE(in_use, nullptr);
  EXPECT_EQ(in_use->server_text, "srv**cl");
  EXPECT_EQ(in_use->account_name, "ACC");
  EXPECT_EQ(in_use->md_name, "VOC");
  EXPECT_EQ(in_use.use_count(), 1);
}

TEST(session_table_test, BeyondCapacityTheLeastRecentlyUsedSessionEnds) {
  // Regression: the table used to grow without bound, one entry per login never logged out.
  session_table table(3);
  table.add_session("a", record("a**"));
  table.add_session("b", record("b**"));
  table.add_session("c", record("c**"));
  ASSERT_NE(table.find_session("a"), nullptr);  // a is now the most recent, b the least
  table.add_session("d", record("d**"));
  EXPECT_EQ(table.session_count(), 3u);
  EXPECT_EQ(table.find_session("b"), nullptr);
  for (const char* kept : {"a", "c", "d"}) EXPECT_NE(table.find_session(kept), nullptr) << kept;
  // A removed session frees its place; an id already present takes none.
  table.remove_session("c");
  table.add_session("a", record("again**"));
  table.add_session("e", record("e**"));
  EXPECT_EQ(table.session_count(), 3u);
  for (const char* kept : {"a", "d", "e"}) EXPECT_NE(table.find_session(kept), nullptr) << kept;
  EXPECT_EQ(table.find_session("a")->server_text, "a**");
}

// Many threads log in, look up their own and their neighbours' sessions and log out at once.
// Run under ThreadSanitizer this also proves that every access to the map is locked.
TEST(session_table_concurrency_test, ParallelAddsLookupsAndRemovesKeepTheTableConsistent) {
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
        // A neighbour's session may or may not be there yet; when it is, it must be whole.
        const std::string other = std::to_string((t + 1) % threads) + ":" + std::to_string(i);
        if (auto seen = table.find_session(other); seen && seen->server_text != "server" + other) {
          ++wrong_records;
        }
        (void)table.session_count();
        if (i % 2 == 1) table.remove_session(id);
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  EXPECT_EQ(wrong_records.load(), 0);
  EXPECT_EQ(table.session_count(), static_cast<std::size_t>(threads * per_thread / 2));
  for (int t = 0; t < threads; ++t) {
    for (int i = 0; i < per_thread; ++i) {
      const std::string id = std::to_string(t) + ":" + std::to_string(i);
      EXPECT_EQ(table.find_session(id) != nullptr, i % 2 == 0) << id;
    }
  }
}

}  // namespace
}  // namespace ombrix
