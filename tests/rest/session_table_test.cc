#include "rest/session_table.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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
  // A removed session frees its place; an id already present takes none; a request keeps its record.
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

}  // namespace
}  // namespace ombrix
