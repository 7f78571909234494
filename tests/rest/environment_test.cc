#include "rest/environment.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrix {
namespace {

struct split_case {
  std::string text;
  std::string delimiter;
  std::vector<std::string> pieces;
};

TEST(split_test, CutsAtEveryDelimiter) {
  const split_case cases[] = {
        split_case{"", "/", {""}},
        split_case{"/", "/", {""}},
        split_case{"a", "/", {"a"}},
        split_case{"a/b", "/", {"a", "b"}},
        split_case{"a//b", "/", {"a", "", "b"}},
        split_case{"a/b/", "/", {"a", "b"}},
        split_case{"a//", "/", {"a", ""}},
        split_case{"/a", "/", {"", "a"}},
        split_case{"//", "/", {"", ""}},
        split_case{"quelm/restfs/", "/", {"quelm", "restfs"}},
        split_case{"/quelm/restfs/file/x", "/", {"", "quelm", "restfs", "file", "x"}},
        split_case{"A=1\r\nB=2\r\n", "\r\n", {"A=1", "B=2"}},
        split_case{"A=1\r\n\r\nB=2", "\r\n", {"A=1", "", "B=2"}},
        // A lone CR or LF is not the delimiter.
        split_case{"A=1\nB=2\r", "\r\n", {"A=1\nB=2\r"}}};
  for (const split_case& c : cases) EXPECT_EQ(split(c.text, c.delimiter), c.pieces) << c.text;
}

struct join_case {
  std::vector<std::string> pieces;
  std::string joined;
};

TEST(join_test, PutsTheDelimiterBetweenPieces) {
  const join_case cases[] = {
      {{}, ""}, {{""}, ""}, {{"MD"}, "MD"}, {{"MD", "X"}, "MD/X"}, {{"", "F", ""}, "/F/"}};
  for (const join_case& c : cases) EXPECT_EQ(join(c.pieces, "/"), c.joined) << c.joined;
}

struct environment_case {
  std::string name;
  std::string text;
  environment expected;
};

TEST(parse_environment_test, BuildsTheTable) {
  const environment_case cases[] = {
        environment_case{"HttpLayerLines",
                         "REMOTE_ADDR=127.0.0.1\r\nREQUEST_METHOD=GET\r\nPATH_INFO=/quelm/restfs/"
                         "dir/MD\r\nHTTP_AUTHORIZATION=Bearer abc=.def\r\nQS_ATTR=1\r\n",
                         {{"REMOTE_ADDR", "127.0.0.1"},
                          {"REQUEST_METHOD", "GET"},
                          {"PATH_INFO", "/quelm/restfs/dir/MD"},
                          {"HTTP_AUTHORIZATION", "Bearer abc=.def"},
                          {"QS_ATTR", "1"}}},
        environment_case{"Empty", "", {}},
        environment_case{"FirstOccurrenceWins", "QS_A=1\r\nQS_A=2\r\n", {{"QS_A", "1"}}},
        environment_case{"NamesAreUpperCased", "path_info=/x\r\nPATH_INFO=/y", {{"PATH_INFO", "/x"}}},
        environment_case{"OnlyAsciiLettersChange", "q\xC3\xa9_a-1=v", {{"Q\xC3\xa9_A-1", "v"}}},
        environment_case{"CutAtTheFirstEquals", "QS_A=1=2", {{"QS_A", "1=2"}}},
        environment_case{"ValuesKeepTheirCase", "M=get", {{"M", "get"}}},
        environment_case{"EmptyValue", "CONTENT_TYPE=\r\n", {{"CONTENT_TYPE", ""}}},
        environment_case{"EmptyName", "=v\r\nA=1", {{"", "v"}, {"A", "1"}}},
        environment_case{"LinesWithoutEqualsAreDropped", "junk\r\nA=1\r\n\r\nmore", {{"A", "1"}}}};
  for (const environment_case& c : cases) {
    EXPECT_EQ(parse_environment(c.text), c.expected) << c.name;
  }
}

TEST(environment_value_test, AbsentNamesReadAsEmpty) {
  const environment table = parse_environment("PATH_INFO=/quelm\r\nQS_X=\r\n");
  EXPECT_EQ(environment_value(table, "PATH_INFO"), "/quelm");
  EXPECT_EQ(environment_value(table, "QS_X"), "");
  EXPECT_EQ(environment_value(table, "HTTP_AUTHORIZATION"), "");
  // Lookups compare exactly: the table holds upper-case names only.
  EXPECT_EQ(environment_value(table, "path_info"), "");
}

}  // namespace
}  // namespace ombrix
