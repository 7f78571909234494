#include "mount/item_content.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace ombrix::mount {
namespace {

#define VM "\xEF\xA3\xBD"
#define SM "\xEF\xA3\xBC"

// Each row converts both ways: the data array to the content and the content back to the same
// array, byte for byte.
TEST(item_content, data_and_content_convert_both_ways) {
  const std::pair<const char*, std::string> cases[] = {
      {R"([""])", ""}, {R"(["a","","b"])", "a\n\nb\n"}, {R"(["a",["b","c"],"d"])", "a\nb" VM "c\nd\n"},
      {R"([[["a","b"],["c","d"]],"e"])", "a" SM "b" VM "c" SM "d\ne\n"}, {"[\"caf\xC3\xA9 \\\"q\\\"\"]", "caf\xC3\xA9 \"q\"\n"},
      {R"(["nul\u0000x"])", std::string("nul\0x\n", 6)},
      // What plain lines cannot hold comes in the admin export's escaped form.
      {R"(["a\nb","c\r"])", "%ombrix-escaped\na%0Ab\nc%0D\n"},
      {R"(["%ombrix-escaped"])", "%ombrix-escaped\n%25ombrix-escaped\n"},
  };
  for (const auto& [json, content] : cases) {
    std::string data;
    EXPECT_EQ(data_to_content(json), content) << json;
    EXPECT_EQ(content_to_data(content, data), 0) << json;
    EXPECT_EQ(data, json);
  }
}

// Contents that would not read back as written are refused, and say why.
TEST(item_content, contents_the_item_form_cannot_hold_are_refused) {
  // No final line end; one empty line (reads back as the empty file); CR LF line ends (read
  // back as LF); an empty last line or value (the JSON form drops it); not UTF-8.
  const std::pair<std::string, int> cases[] = {{"a", EINVAL}, {"a\nb", EINVAL}, {"\n", EINVAL}, {"a\r\nb\r\n", EINVAL}, {"a\n\n", EINVAL},
                                                {"\n\n", EINVAL}, {"a" VM "\n", EINVAL}, {"\xFF\n", EILSEQ}, {"a\xC3\n", EILSEQ}};
  for (const auto& [content, error] : cases) {
    std::string data = "unchanged";
    EXPECT_EQ(content_to_data(content, data), error) << content;
    EXPECT_EQ(data, "unchanged");
  }
}

TEST(item_content, malformed_data_is_refused_and_data_is_taken_from_a_read_reply) {
  for (const char* bad : {"", "{}", R"(["a")", R"([[[["x"]]]])", R"(["a",1])", R"([null])"}) EXPECT_FALSE(data_to_content(bad).has_value()) << bad;
  EXPECT_EQ(data_of_reply(R"({"id":"C1","type":"array","data":["a",["b","c"]]})"), std::string(R"(["a",["b","c"]])"));
  EXPECT_EQ(data_of_reply(R"({"id":"data","type":"array","data":[""]})"), std::string(R"([""])"));
  EXPECT_FALSE(data_of_reply(R"({"id":"C1"})").has_value());
  EXPECT_FALSE(data_of_reply(R"({"x":{"data":["a"]}})").has_value());
}

}  // namespace
}  // namespace ombrix::mount
