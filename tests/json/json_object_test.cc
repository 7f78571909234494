#include "json/json_object.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace ombrix {
namespace {

// The members in table order as "name=kind:value" joined by "|": the text for strings, the
// number for integers, the real for reals, the raw span for nested values.
std::string dump(const json_members& members, std::string_view text) {
  std::string out;
  for (const auto& [name, value] : members) {
    if (!out.empty()) out += '|';
    out += name + '=' + std::to_string(value.kind);
    char real[32];
    std::snprintf(real, sizeof real, ":%g", value.real());
    if (value.kind == 10) out += ':' + value.text;
    if (value.kind == 8) out += ':' + std::to_string(value.number);
    if (value.kind == 9) out += real;
    if (value.kind == 1 || value.kind == 3) {
      out += ':' + std::string(text.substr(value.span_begin(), value.span_end() - value.span_begin()));
    }
  }
  return out;
}

TEST(ParseJsonObjectTest, ResultsAndMembers) {
  const struct { std::string text; std::uint32_t result; std::string members; } cases[] = {
      {R"({"a":1,"a":2})", 2, "a=8:1"},
      {R"({"data": [1,"x",[2]]})", 2, "data=3: [1,\"x\",[2]]"},
      {"{\"o\":\n {\"p\":[1,{\"q\":2}]} ,\"z\":0}", 2, "o=1:\n {\"p\":[1,{\"q\":2}]}|z=8:0"},
      {R"([1])", 3, ""},
      {"", 0, ""},
      {R"({"a":1])", 4, "a=8:1"},
      {R"({"a":1)", 0, ""},  // the number runs to the end: premature end, nothing stored
      {R"({"a":"s")", 0, "a=10:s"},
      {R"({"a":[1})", 12, ""},
      {R"({"a":{"b":1]})", 12, ""},
      {R"({"b":1,"a":2,"B":3,"":4})", 2, "=8:4|B=8:3|a=8:2|b=8:1"},
      {R"({1})", 2, "=8:1"},
      {R"({"t":true,"f":false,"n":null,"r":-1.5e2,"s":"\u00e9\n"})", 2, "f=6|n=7|r=9:-150|s=10:\xC3\xA9\n|t=5"},
      {R"({"name":"v":1})", 2, "v=8:1"},  // "v" followed by a colon is a name, not a value
  };
  for (const auto& c : cases) {
    // Exact-size copy: the parser must not look past the end.
    std::unique_ptr<char[]> exact(new char[c.text.size() + 1]);
    std::copy(c.text.begin(), c.text.end(), exact.get());
    json_members members;
    EXPECT_EQ(parse_json_object(exact.get(), static_cast<std::uint32_t>(c.text.size()), members), c.result) << c.text;
    EXPECT_EQ(dump(members, c.text), c.members) << c.text;
  }
}

TEST(ParseJsonObjectTest, SpansCountFromTheStartOfTheTextAndHoldDeepNesting) {
  const std::string text = R"({"id":"A","data": [["x"]],"o":{}})";
  json_members members;
  ASSERT_EQ(parse_json_object(text.data(), static_cast<std::uint32_t>(text.size()), members), 2u);
  const json_value& data = members.at("data");
  EXPECT_EQ(data.number, (std::int64_t{25} << 32) | 17);  // from the space after the colon to past the bracket
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
