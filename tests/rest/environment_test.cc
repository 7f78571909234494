#include "rest/environment.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <utility>
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

using lines = std::vector<std::pair<std::string_view, std::string_view>>;

struct environment_case {
  std::string name;
  std::string text;
  lines kept;                                               // every line, in order
  std::vector<std::pair<std::string, std::string>> lookups;  // name -> value found
};

TEST(parse_environment_test, BuildsTheTable) {
  const environment_case cases[] = {
      {"HttpLayerLines",
       "REMOTE_ADDR=127.0.0.1\r\nREQUEST_METHOD=GET\r\nPATH_INFO=/quelm/restfs/"
       "dir/MD\r\nHTTP_AUTHORIZATION=Bearer abc=.def\r\nQS_ATTR=1\r\n",
       {{"REMOTE_ADDR", "127.0.0.1"},
        {"REQUEST_METHOD", "GET"},
        {"PATH_INFO", "/quelm/restfs/dir/MD"},
        {"HTTP_AUTHORIZATION", "Bearer abc=.def"},
        {"QS_ATTR", "1"}},
       {{"HTTP_AUTHORIZATION", "Bearer abc=.def"}, {"QS_ATTR", "1"}}},
      {"Empty", "", {}, {{"PATH_INFO", ""}}},
      {"FirstOccurrenceWins", "QS_A=1\r\nQS_A=2\r\n", {{"QS_A", "1"}, {"QS_A", "2"}},
       {{"QS_A", "1"}}},
      {"NamesAreUpperCased", "path_info=/x\r\nPATH_INFO=/y", {{"PATH_INFO", "/x"}, {"PATH_INFO", "/y"}},
       {{"PATH_INFO", "/x"}, {"path_info", ""}}},
      {"OnlyAsciiLettersChange", "q\xC3\xa9_a-1=v", {{"Q\xC3\xa9_A-1", "v"}}, {{"Q\xC3\xa9_A-1", "v"}}},
      {"CutAtTheFirstEquals", "QS_A=1=2", {{"QS_A", "1=2"}}, {{"QS_A", "1=2"}}},
      {"ValuesKeepTheirCase", "M=get", {{"M", "get"}}, {{"M", "get"}}},
      {"EmptyValue", "CONTENT_TYPE=\r\n", {{"CONTENT_TYPE", ""}}, {{"CONTENT_TYPE", ""}}},
      {"EmptyName", "=v\r\nA=1", {{"", "v"}, {"A", "1"}}, {{"", "v"}, {"A", "1"}}},
      {"LinesWithoutEqualsAreDropped", "junk\r\nA=1\r\n\r\nmore", {{"A", "1"}},
       {{"A", "1"}, {"junk", ""}}},
      {"AnEqualsOnALaterLineIsNotThisLines", "junk\r\nA=1", {{"A", "1"}}, {{"JUNK\r\nA", ""}}},
      {"ALoneCrOrLfStaysInTheValue", "A=1\nB=2\rC\r\nD=3", {{"A", "1\nB=2\rC"}, {"D", "3"}},
       {{"A", "1\nB=2\rC"}, {"B", ""}}},
  };
  for (const environment_case& c : cases) {
    SCOPED_TRACE(c.name);
    const environment table(c.text);
    EXPECT_EQ(table.lines(), c.kept);
    for (const auto& [name, value] : c.lookups) EXPECT_EQ(table.value(name), value) << name;
  }
}

TEST(environment_value_test, AbsentNamesReadAsEmpty) {
  const environment table("PATH_INFO=/quelm\r\nQS_X=\r\n");
  EXPECT_EQ(table.value("PATH_INFO"), "/quelm");
  EXPECT_EQ(table.value("QS_X"), "");
  EXPECT_EQ(table.value("HTTP_AUTHORIZATION"), "");
  // Lookups compare exactly: the table holds upper-case names only.
  EXPECT_EQ(table.value("path_info"), "");
}

// Built from pairs, as the tests of the actions do, the table is the same as from the text.
TEST(environment_value_test, APairListGivesTheSameTableAsItsText) {
  const environment from_pairs{{"qs_attr", "16"}, {"QS_MAX_ITEMS", "2"}, {"QS_ATTR", "1"}};
  EXPECT_EQ(from_pairs.lines(), environment("QS_ATTR=16\r\nQS_MAX_ITEMS=2\r\nQS_ATTR=1").lines());
  EXPECT_EQ(from_pairs.value("QS_ATTR"), "16");
}

// The table holds its own copy: it outlives the text it was read from.
TEST(environment_value_test, TheTableOutlivesItsText) {
  std::string text = "PATH_INFO=/x\r\n";
  const environment table(text);
  text.assign(text.size(), 'z');
  EXPECT_EQ(table.value("PATH_INFO"), "/x");
}

}  // namespace
}  // namespace ombrix
