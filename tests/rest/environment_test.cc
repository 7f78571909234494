#include "rest/environment.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrix {
namespace {

TEST(environment_test, SplitCutsAtEveryDelimiterAndJoinPutsItBack) {
  const std::pair<std::string, std::vector<std::string>> cases[] = {
      {"", {""}}, {"/", {""}}, {"a//b", {"a", "", "b"}}, {"a/b/", {"a", "b"}}, {"/a", {"", "a"}}};
  for (const auto& [text, pieces] : cases) EXPECT_EQ(split(text, "/"), pieces) << text;
  EXPECT_EQ(join({"", "F", ""}, "/"), "/F/");
}

TEST(environment_test, BuildsTheTableOfUpperCasedNames) {
  using lines = std::vector<std::pair<std::string_view, std::string_view>>;
  // kept: every line, in order; lookups: name -> value found.
  const struct { std::string text; lines kept; std::vector<std::pair<std::string, std::string>> lookups; } cases[] = {
      {"path_info=/x\r\nPATH_INFO=/y", {{"PATH_INFO", "/x"}, {"PATH_INFO", "/y"}}, {{"PATH_INFO", "/x"}, {"path_info", ""}}},
      {"junk\r\nA=1\r\n\r\nmore", {{"A", "1"}}, {{"A", "1"}, {"junk", ""}, {"JUNK\r\nA", ""}}},
      {"A=1\nB=2\rC\r\nD=3", {{"A", "1\nB=2\rC"}, {"D", "3"}}, {{"A", "1\nB=2\rC"}, {"B", ""}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    std::string text = c.text;
    const environment table(text);
    text.assign(text.size(), 'z');  // the table holds its own copy
    EXPECT_EQ(table.lines(), c.kept);
    for (const auto& [name, value] : c.lookups) EXPECT_EQ(table.value(name), value) << name;
  }
  const environment from_pairs{{"qs_attr", "16"}, {"QS_MAX_ITEMS", "2"}, {"QS_ATTR", "1"}};
  EXPECT_EQ(from_pairs.lines(), environment("QS_ATTR=16\r\nQS_MAX_ITEMS=2\r\nQS_ATTR=1").lines());
}

}  // namespace
}  // namespace ombrix
