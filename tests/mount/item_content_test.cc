#include "mount/item_content.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

namespace ombrix::mount {
namespace {

#define VM "\xEF\xA3\xBD"
#define SM "\xEF\xA3\xBC"

struct round_case {
  const char* data;
  std::string content;
};

// Each row converts both ways: the data array to the content and the content back to the same
// array, byte for byte.
TEST(item_content, data_and_content_convert_both_ways) {
  const round_case cases[] = {
      {R"([""])", ""},
      {R"(["a"])", "a\n"},
      {R"(["a","","b"])", "a\n\nb\n"},
      {R"(["a",["b","c"],"d"])", "a\nb" VM "c\nd\n"},
      {R"([[["a","b"],["c","d"]],"e"])", "a" SM "b" VM "c" SM "d\ne\n"},
      {"[\"caf\xC3\xA9 \\\"q\\\"\"]", "caf\xC3\xA9 \"q\"\n"},
      {R"(["nul\u0000x"])", std::string("nul\0x\n", 6)},
      // What plain lines cannot hold comes in the admin export's escaped form.
      {R"(["a\nb","c\r"])", "%ombrix-escaped\na%0Ab\nc%0D\n"},
      {R"(["%ombrix-escaped"])", "%ombrix-escaped\n%25ombrix-escaped\n"},
  };
  for (const round_case& c : cases) {
    SCOPED_TRACE(c.data);
    EXPECT_EQ(data_to_content(c.data), c.content);
    std::string data;
    EXPECT_EQ(content_to_data(c.content, data), 0);
    EXPECT_EQ(data, c.data);
  }
}

// Contents that would not read back as written are refused, and say why.
TEST(item_content, contents_the_item_form_cannot_hold_are_refused) {
  const struct {
    std::string content;
    int error;
  } cases[] = {
      {"a", EINVAL},            // no final line end
      {"a\nb", EINVAL},
      {"\n", EINVAL},           // one empty line reads back as the empty file
      {"a\r\nb\r\n", EINVAL},   // CR LF line ends read back as LF
      {"a\n\n", EINVAL},       // an empty last line: the JSON form drops it
      {"\n\n", EINVAL},
      {"a" VM "\n", EINVAL},    // an empty last value likewise
      {"\xFF\n", EILSEQ},       // not UTF-8
      {"a\xC3\n", EILSEQ},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.content);
    std::string data = "unchanged";
    EXPECT_EQ(content_to_data(c.content, data), c.error);
    EXPECT_EQ(data, "unchanged");
  }
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
