#include <cstdint>

#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

const kelm_info session{"SALES**test", "SALES", "MD"};
const std::string empty_listing = json_reply(R"({"items":[]})");

host_call list_call(text file, std::int64_t attr, std::int64_t max_items) {
  return {"list_items", {std::move(file), u"", u"-1"}, {attr, max_items}};
}
host_call stat_call(text file, text item) {
  return {"stat_item", {std::move(file), std::move(item), text(u"-1") + vm + u"-2"}, {}};
}

TEST(directory_actions_test, ResolvesThePathAndRefusesBeforeAnyHostCall) {
  check_actions({
      {"Dict", list_directory_action, "dir", {"MD", "CUSTOMERS"}, "", {}, 200, empty_listing,
       {list_call(u"DICT CUSTOMERS", 0, 0)}},
      {"StatSelector", stat_action, "stat", {"MD", "CUST", "CUST", "C1"}, "", {}, 200,
       json_reply(R"({"attr":0,"size":12})"), {stat_call(u"CUST", u"C1")}, std::nullopt, {{"stat_item", u"0\r\n12"}}},
      {"DirLowerCaseRoot", list_directory_action, "dir", {"sales"}, "", {}, 400,
       error_reply(400, "File MD, VOC or account name is not valid.", "201"), {}, "invalid MD/VOC for dir: sales\n"},
  }, session);
}

TEST(directory_actions_test, ListingReadsAttrAndMaxItemsAsLeadingDecimals) {
  const struct { std::optional<std::string> attr, max_items; std::int64_t attr_sent, max_sent; } cases[] = {
      {std::nullopt, std::nullopt, 0, 0}, {"abc", "10", 0, 10}, {"  \t42abc", " -3", 42, -3},
      {"2147483647", "-2147483648", 2147483647, -2147483647 - 1}, {"99999999999999999999999", "00000000000000000000009", 0, 9}};
  for (const auto& c : cases) {
    std::string query_text;
    if (c.attr) query_text += "QS_ATTR=" + *c.attr + "\r\n";
    if (c.max_items) query_text += "QS_MAX_ITEMS=" + *c.max_items + "\r\n";
    check_action({query_text, list_directory_action, "dir", {"MD"}, "", environment(query_text), 200,
                  empty_listing, {list_call(u"MD", c.attr_sent, c.max_sent)}}, session);
  }
}

TEST(directory_actions_test, ListingEntriesBecomeIdAttrSizeObjects) {
  const text h = u"H\r\n";
  const struct { text listing; std::string json; } cases[] = {
      {h + u"A" + sm + u"0" + sm + u"120" + vm + u"B" + sm + u"16" + sm + u"0" + vm + u"C",
       R"([{"id":"A","attr":0,"size":120},{"id":"B","attr":16},{"id":"C"}])"},
      {h + u"A" + vm + vm + u"B" + vm, R"([{"id":"A"},{"id":"B"}])"},
      // 48 = 0x30 has the directory bit, 32 has not; -32 lacks it, -3 has it (two's complement).
      {h + u"A" + sm + u"48" + sm + u"7" + vm + u"B" + sm + u"32" + sm + u"7",
       R"([{"id":"A","attr":48},{"id":"B","attr":32,"size":7}])"},
      {h + u"A" + sm + u" -32" + sm + u"+9z" + vm + u"B" + sm + u"-3" + sm + u"9",
       R"([{"id":"A","attr":-32,"size":9},{"id":"B","attr":-3}])"},
      // Leading zeros and 19 digits take the parsing path; the numbers are the same.
      {h + u"A" + sm + u"007" + sm + u"0012" + vm + u"B" + sm + u"00" + sm + u"1000000000000000000",
       R"([{"id":"A","attr":7,"size":12},{"id":"B","attr":0,"size":1000000000000000000}])"},
      {h + u"A" + sm + u"0" + sm + u"99999999999999999999", R"([{"id":"A","attr":0,"size":9223372036854775807}])"},
      // Only the first CR LF ends the header; names are written as UTF-8 and escaped.
      {h + u"X\r\n\u00E9\"" + sm + u"0" + sm + u"1", "[{\"id\":\"X\\r\\n\xC3\xA9\\\"\",\"attr\":0,\"size\":1}]"},
  };
  for (const auto& c : cases) {
    check_action({test::hex_units(c.listing), list_directory_action, "dir", {"MD"}, "", {}, 200,
                  json_reply("{\"items\":" + c.json + "}"), {list_call(u"MD", 0, 0)}, std::nullopt,
                  {{"list_items", c.listing}}}, session);
  }
}

TEST(directory_actions_test, StatReadsTheFirstTwoNonEmptyLines) {
  const struct { text result; std::string json; } cases[] = {
      {u"16\r\n2048", R"({"attr":16,"size":0})"},
      {u"32", R"({"attr":32,"size":0})"},
      {u"", R"({"attr":0,"size":0})"},
      {u"\r\n\r\n\r\n3\r\n\r\n4\r\n9", R"({"attr":3,"size":4})"},
      {u"-32\r\n-5", R"({"attr":-32,"size":-5})"},
  };
  for (const auto& c : cases) {
    check_action({test::hex_units(c.result), stat_action, "stat", {"MD", "X"}, "", {}, 200, json_reply(c.json),
                  {stat_call(u"MD", u"X")}, std::nullopt, {{"stat_item", c.result}}}, session);
  }
}

}  // namespace
}  // namespace ombrix
