#include "host/item_files.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ombrix {
namespace {

TEST(ItemFiles, LinesBecomeAttributes) {
  const std::vector<std::pair<std::string, text>> cases = {
      {"", u""}, {"A\n", u"A"}, {"A\r\nB\r\n", u"A\r\nB"},
      {"A\n\n", u"A\r\n"}, {"\n\n", u"\r\n"}, {"A\rB\n", u"A\rB"},
      {"1\xEF\xA3\xBD" "2\xEF\xA3\xBC" "3\n", u"1\xF8FD" u"2\xF8FC" u"3"}, {std::string("N\0L\n", 4), text(u"N") + text(1, u'\0') + u"L"},
  };
  for (const auto& [bytes, item] : cases) EXPECT_EQ(item_from_text_file(bytes), item) << bytes;
  EXPECT_THROW(item_from_text_file("A\xC3"), std::range_error);
}

TEST(ItemFiles, AttributesBecomeLinesEndedByLf) {
  const std::vector<std::pair<text, std::string>> cases = {
      {u"", ""}, {u"A\r\nB", "A\nB\n"},
      {u"A\r\n", "A\n\n"}, {u"1\xF8FD" u"2", "1\xEF\xA3\xBD" "2\n"},
  };
  for (const auto& [item, bytes] : cases) {
    EXPECT_EQ(text_file_from_item(item), bytes);
    EXPECT_EQ(item_from_text_file(bytes), item) << "and back";
  }
}

// Regression: an LF or a trailing CR inside an attribute was exported as a line end, and came
// back as two attributes or without its CR.
TEST(ItemFiles, TextsTheLineFormCannotHoldAreEscapedAndComeBack) {
  const std::vector<std::pair<text, std::string>> cases = {
      {u"A\nB", "%ombrix-escaped\nA%0AB\n"},
      {u"A\r\r\nB", "%ombrix-escaped\nA%0D\nB\n"},
      {u"50%\r\nx\ny", "%ombrix-escaped\n50%25\nx%0Ay\n"},
      {u"%ombrix-escaped", "%ombrix-escaped\n%25ombrix-escaped\n"},
      // What the plain form holds stays plain, "%" and a CR inside a line included.
      {u"50%\r\nA\rB", "50%\nA\rB\n"},
      {u"%ombrix-escaped-not", "%ombrix-escaped-not\n"},
  };
  for (const auto& [item, bytes] : cases) {
    EXPECT_EQ(text_file_from_item(item), bytes);
    EXPECT_EQ(item_from_text_file(bytes), item) << "and back";
  }
  for (const auto& [bytes, message] :
       {std::pair<std::string, std::string>{"%ombrix-escaped\nbad %4", "'%4' in line 2"},
        {"%ombrix-escaped\na\n%0A%G1", "'%G1' in line 3"},
        {"%ombrix-escaped\n%", "'%' in line 2"}}) {
    try {
      (void)item_from_text_file(bytes);
      ADD_FAILURE() << "no failure for " << bytes;
    } catch (const malformed_escape& failure) {
      EXPECT_EQ(failure.what(), message);
    }
  }
}

TEST(ItemFiles, IdsThatAreNoFileNameAreEscapedAndComeBack) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"C1", "C1"}, {"", "%"}, {".", "%%2E"}, {"..", "%%2E%2E"},
      {"a/b", "%a%2Fb"}, {std::string("n\0l", 3), "%n%00l"},
  };
  for (const auto& [id, name] : cases) {
    EXPECT_EQ(file_name_of_id(id), name);
    EXPECT_EQ(id_of_file_name(name), id) << "and back";
  }
  EXPECT_EQ(id_of_file_name("%%2"), std::nullopt);
  EXPECT_EQ(id_of_file_name("%a%zz"), std::nullopt);
}

}  // namespace
}  // namespace ombrix
