#include "json/json_object.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace ombrix {
namespace {

// Result codes, and the members that parse in table order with their kinds; the parser reads a
// block of exactly the text's size (no look past the end) and holds deep nesting as one span.
TEST(ParseJsonObjectTest, ResultsMembersAndDeepNesting) {
  const struct { std::string text; std::uint32_t result; std::size_t members; } cases[] = {
      {R"({"b":1,"a":{"x":[1]},"b":3})", 2, 2}, {R"([1])", 3, 0}, {R"({"a":1])", 4, 1},
      {R"({"a":1)", 0, 0}, {R"({"a":[1})", 12, 0}, {R"({"name":"v":1})", 2, 1}};
  for (const auto& c : cases) {
    std::unique_ptr<char[]> exact(new char[c.text.size()]);
    std::copy(c.text.begin(), c.text.end(), exact.get());
    json_members members;
    EXPECT_EQ(parse_json_object(exact.get(), static_cast<std::uint32_t>(c.text.size()), members), c.result) << c.text;
    EXPECT_EQ(members.size(), c.members) << c.text;
  }
  json_members members;
  const std::string first = R"({"b":1,"a":{"x":[1]},"b":3})";
  ASSERT_EQ(parse_json_object(first.data(), static_cast<std::uint32_t>(first.size()), members), 2u);
  EXPECT_EQ(members.begin()->first, "a");  // name order
  EXPECT_EQ(members.at("b").number, 1);    // the first of two wins
  EXPECT_EQ(first.substr(members.at("a").span_begin(), members.at("a").span_end() - members.at("a").span_begin()),
            R"({"x":[1]})");
  std::string deep = "{\"deep\":";
  for (int i = 0; i < 10000; ++i) deep += i % 2 ? "{\"k\":" : "[";
  for (int i = 9999; i >= 0; --i) deep += i % 2 ? "}" : "]";
  deep += "}";
  ASSERT_EQ(parse_json_object(deep.data(), static_cast<std::uint32_t>(deep.size()), members), 2u);
  EXPECT_EQ(members.at("deep").span_begin(), 8u);
  EXPECT_EQ(members.at("deep").span_end(), deep.size() - 1);
}

}  // namespace
}  // namespace ombrix
