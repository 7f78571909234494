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

class split_test : public ::testing::TestWithParam<split_case> {};

TEST_P(split_test, CutsAtEveryDelimiter) {
  const split_case& c = GetParam();
  EXPECT_EQ(split(c.text, c.delimiter), c.pieces);
}

INSTANTIATE_TEST_SUITE_P(
    Pieces, split_test,
    ::testing::Values(
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
        split_case{"A=1\nB=2\r", "\r\n", {"A=1\nB=2\r"}}));

struct join_case {
  std::vector<std::string> pieces;
  std::string joined;
};

class join_test : public ::testing::TestWithParam<join_case> {};

TEST_P(join_test, PutsTheDelimiterBetweenPieces) {
  EXPECT_EQ(join(GetParam().pieces, "/"), GetParam().joined);
}

INSTANTIATE_TEST_SUITE_P(Pieces, join_test,
                         ::testing::Values(join_case{{}, ""}, join_case{{""}, ""},
                                           join_case{{"MD"}, "MD"},
                                           join_case{{"MD", "X"}, "MD/X"},
                                           join_case{{"", "F", ""}, "/F/"}));

TEST(parse_environment_test, ReadsTheLinesTheHttpLayerWrites) {
  const environment table = parse_environment(
      "REMOTE_ADDR=127.0.0.1\r\nREQUEST_METHOD=GET\r\nPATH_INFO=/quelm/restfs/dir/MD\r\n"
      "HTTP_AUTHORIZATION=Bearer abc=.def\r\nQS_ATTR=1\r\n");
  const environment expected{{"REMOTE_ADDR", "127.0.0.1"},
                             {"REQUEST_METHOD", "GET"},
                             {"PATH_INFO", "/quelm/restfs/dir/MD"},
                             {"HTTP_AUTHORIZATION", "Bearer abc=.def"},
                             {"QS_ATTR", "1"}};
  EXPECT_EQ(table, expected);
}

struct environment_case {
  std::string name;
  std::string text;
  environment expected;
};

class parse_environment_cases : public ::testing::TestWithParam<environment_case> {};

TEST_P(parse_environment_cases, BuildsTheTable) {
  EXPECT_EQ(parse_environment(GetParam().text), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, parse_environment_cases,
    ::testing::Values(
        environment_case{"Empty", "", {}},
        environment_case{"FirstOccurrenceWins", "QS_A=1\r\nQS_A=2\r\n", {{"QS_A", "1"}}},
        environment_case{"NamesAreUpperCased", "path_info=/x\r\nPATH_INFO=/y", {{"PATH_INFO", "/x"}}},
        environment_case{"OnlyAsciiLettersChange", "q\xC3\xa9_a-1=v", {{"Q\xC3\xa9_A-1", "v"}}},
        environment_case{"CutAtTheFirstEquals", "QS_A=1=2", {{"QS_A", "1=2"}}},
        environment_case{"ValuesKeepTheirCase", "M=get", {{"M", "get"}}},
        environment_case{"EmptyValue", "CONTENT_TYPE=\r\n", {{"CONTENT_TYPE", ""}}},
        environment_case{"EmptyName", "=v\r\nA=1", {{"", "v"}, {"A", "1"}}},
        environment_case{"LinesWithoutEqualsAreDropped", "junk\r\nA=1\r\n\r\nmore", {{"A", "1"}}}),
    [](const ::testing::TestParamInfo<environment_case>& info) { return info.param.name; });

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
