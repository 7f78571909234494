#include "mount/item_content.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrix::mount {
namespace {

#define VM "\xEF\xA3\xBD"
#define SM "\xEF\xA3\xBC"

struct round_case {
  const char* data;
  const char* content;
};

// Each row converts both ways: the data array to the content and back to the same array.
TEST(item_content, data_and_content_convert_both_ways) {
  const round_case cases[] = {
      {R"([""])", "\n"},
      {R"(["a"])", "a\n"},
      {R"(["a","","b"])", "a\n\nb\n"},
      {R"(["a",["b","c"],"d"])", "a\nb" VM "c\nd\n"},
      {R"([[["a","b"],["c","d"]],"e"])", "a" SM "b" VM "c" SM "d\ne\n"},
      {R"([["x",["y","z"]]])", "x" VM "y" SM "z\n"},
      {R"(["caf\u00e9 \"q\""])", "caf\xC3\xA9 \"q\"\n"},
  };
  for (const round_case& c : cases) {
    SCOPED_TRACE(c.data);
    EXPECT_EQ(data_to_content(c.data), std::string(c.content));
    const std::string back = content_to_data(c.content);
    EXPECT_EQ(data_to_content(back), std::string(c.content));
  }
}

TEST(item_content, content_to_data_is_byte_exact) {
  EXPECT_EQ(content_to_data("a\nb" VM "c\n"), R"(["a",["b","c"]])");
  EXPECT_EQ(content_to_data("a\nb"), R"(["a","b"])");  // no final LF: same attributes
  EXPECT_EQ(content_to_data(""), R"([""])");
  EXPECT_EQ(content_to_data("a\n\n"), R"(["a",""])");  // one final LF only is dropped
  EXPECT_EQ(content_to_data("p" SM "q\n"), R"([[["p","q"]]])");
}

TEST(item_content, malformed_data_is_refused) {
  for (const char* bad : {"", "{}", R"(["a")", R"([[[["x"]]]])", R"(["a",1])", R"([null])"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(data_to_content(bad).has_value());
  }
}

TEST(item_content, data_member_is_taken_from_a_read_reply) {
  EXPECT_EQ(data_of_reply(R"({"id":"C1","type":"array","data":["a",["b","c"]]})"),
            std::string(R"(["a",["b","c"]])"));
  EXPECT_EQ(data_of_reply(R"({"id":"data","type":"array","data":[""]})"), std::string(R"([""])"));
  EXPECT_FALSE(data_of_reply(R"({"id":"C1"})").has_value());
  EXPECT_FALSE(data_of_reply(R"({"x":{"data":["a"]}})").has_value());
}

}  // namespace
}  // namespace ombrix::mount
