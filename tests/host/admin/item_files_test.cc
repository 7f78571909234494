#include "host/admin/item_files.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace ombrix {
namespace {

TEST(ItemFiles, LinesBecomeAttributes) {
  const std::vector<std::pair<std::string, text>> cases = {
      {"", u""},
      {"A", u"A"},
      {"A\n", u"A"},
      {"A\nB", u"A\r\nB"},
      {"A\r\nB\r\n", u"A\r\nB"},
      {"A\n\n", u"A\r\n"},
      {"\n", u""},
      {"\n\n", u"\r\n"},
      {"A\rB\n", u"A\rB"},
      {"A\r", u"A\r"},
      {"1\xEF\xA3\xBD" "2\xEF\xA3\xBC" "3\n", u"1\xF8FD" u"2\xF8FC" u"3"},
      {"caf\xC3\xA9\n", u"caf\u00E9"},
      {std::string("N\0L\n", 4), text(u"N") + text(1, u'\0') + u"L"},
  };
  for (const auto& [bytes, item] : cases) {
    EXPECT_EQ(item_from_text_file(bytes), item) << bytes;
  }
}

TEST(ItemFiles, MalformedUtf8IsRefused) {
  EXPECT_THROW(item_from_text_file("A\xC3"), std::range_error);
  EXPECT_THROW(item_from_text_file("\x80"), std::range_error);
}

TEST(ItemFiles, AttributesBecomeLinesEndedByLf) {
  const std::vector<std::pair<text, std::string>> cases = {
      {u"", ""},
      {u"A", "A\n"},
      {u"A\r\nB", "A\nB\n"},
      {u"A\r\n", "A\n\n"},
      {u"\r\n", "\n\n"},
      {u"1\xF8FD" u"2", "1\xEF\xA3\xBD" "2\n"},
      {u"A\rB", "A\rB\n"},
  };
  for (const auto& [item, bytes] : cases) {
    EXPECT_EQ(text_file_from_item(item), bytes);
    EXPECT_EQ(item_from_text_file(bytes), item) << "and back";
  }
}

}  // namespace
}  // namespace ombrix
