#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "rest/actions.h"
#include "server/settings.h"
#include "tests/rest/fake_host.h"

namespace ombrix {
namespace {

using calls = std::vector<host_call>;
constexpr char16_t vm = value_mark;
constexpr char16_t sm = subvalue_mark;

std::string json_reply_text(std::string_view json) {
  return "Content-Type:application/json\r\n\r\n" + std::string(json) + "\r\n";
}

std::string error_reply_text(std::string_view message, std::string_view code) {
  return "Content-Type:application/json\r\n\r\n{\"status\":400,\"message\":\"" +
         std::string(message) + "\",\"code\":\"" + std::string(code) + "\"}";
}

class directory_actions_test : public ::testing::Test {
 protected:
  void TearDown() override { debug_level = saved_debug_level_; }

  action_request request(std::string action, std::vector<std::string> rest) {
    return action_request{std::move(action), std::move(rest), body, env, session, host};
  }

  kelm_info session{"SALES**test", "SALES", "MD"};
  environment env;
  std::string body;
  fake_host host;
  std::string reply;

 private:
  int saved_debug_level_ = debug_level;
};

host_call list_call(text file, std::int64_t attr, std::int64_t max_items) {
  return {"list_items", {file, u"", u"-1"}, {attr, max_items}};
}

// ---- listing

TEST_F(directory_actions_test, ListingPassesTheResolvedFile) {
  struct file_case {
    std::vector<std::string> rest;
    text file;
  };
  const file_case cases[] = {
      {{"MD"}, u"MD"},
      {{"SALES"}, u"MD"},
      {{"MD", "CUSTOMERS"}, u"DICT CUSTOMERS"},
      {{"MD", "CUSTOMERS", "CUSTOMERS"}, u"CUSTOMERS"},
      {{"SALES", "CUSTOMERS", "HIST"}, u"CUSTOMERS,HIST"},
  };
  for (const file_case& c : cases) {
    fake_host fresh;
    std::string out;
    action_request r{"dir", c.rest, body, env, session, fresh};
    EXPECT_EQ(list_directory_action(r, out), 200);
    EXPECT_EQ(fresh.calls, calls{list_call(c.file, 0, 0)});
    EXPECT_EQ(out, json_reply_text(R"({"items":[]})"));
  }
}

struct parameter_case {
  std::optional<std::string> attr;
  std::optional<std::string> max_items;
  std::int64_t expected_attr;
  std::int64_t expected_max_items;
};

TEST_F(directory_actions_test, ListingReadsAttrAndMaxItemsAsLeadingDecimals) {
  const parameter_case cases[] = {
      {std::nullopt, std::nullopt, 0, 0},
      {"abc", "10", 0, 10},
      {"7x", std::nullopt, 7, 0},
      {"16", "0", 16, 0},
      {"  \t42abc", " -3", 42, -3},
      {"+12", "-0", 12, 0},
      {"", "", 0, 0},
      {"-", "+", 0, 0},
      {"0x10", "1e3", 0, 1},
      {"- 5", "\n8", 0, 8},
      {"2147483647", "-2147483648", 2147483647, -2147483647 - 1},
      {"2147483648", "-2147483649", 0, 0},
      {"99999999999999999999999", "00000000000000000000009", 0, 9},
  };
  for (const parameter_case& c : cases) {
    environment query;
    if (c.attr) query["QS_ATTR"] = *c.attr;
    if (c.max_items) query["QS_MAX_ITEMS"] = *c.max_items;
    fake_host fresh;
    std::string out;
    action_request r{"dir", {"MD"}, body, query, session, fresh};
    EXPECT_EQ(list_directory_action(r, out), 200);
    EXPECT_EQ(fresh.calls, calls{list_call(u"MD", c.expected_attr, c.expected_max_items)})
        << "attr '" << c.attr.value_or("(absent)") << "' max_items '"
        << c.max_items.value_or("(absent)") << "'";
  }
}

struct listing_case {
  text listing;
  std::string json;
};

TEST_F(directory_actions_test, ListingEntriesBecomeIdAttrSizeObjects) {
  const listing_case cases[] = {
      {text(u"HEADER\r\nA") + sm + u"0" + sm + u"120" + vm + u"B" + sm + u"16" + sm + u"0" + vm +
           u"C",
       R"({"items":[{"id":"A","attr":0,"size":120},{"id":"B","attr":16},{"id":"C"}]})"},
      {u"", R"({"items":[]})"},
      {u"no line end", R"({"items":[]})"},
      {u"HEADER\r\n", R"({"items":[]})"},
      {text(u"H\r\nA") + vm + vm + u"B" + vm, R"({"items":[{"id":"A"},{"id":"B"}]})"},
      {text(u"H\r\n") + vm + u"A", R"({"items":[{"id":"A"}]})"},
      {text(u"H\r\nA") + sm + u"x" + sm + u"5", R"({"items":[{"id":"A","attr":0,"size":5}]})"},
      {text(u"H\r\nA") + sm + u"1", R"({"items":[{"id":"A","attr":1}]})"},
      {text(u"H\r\nA") + sm, R"({"items":[{"id":"A","attr":0}]})"},
      {text(u"H\r\nA") + sm + sm, R"({"items":[{"id":"A","attr":0,"size":0}]})"},
      // 48 = 0x30 has the directory bit; 32 has not.
      {text(u"H\r\nA") + sm + u"48" + sm + u"7" + vm + u"B" + sm + u"32" + sm + u"7",
       R"({"items":[{"id":"A","attr":48},{"id":"B","attr":32,"size":7}]})"},
      {text(u"H\r\nA") + sm + u"1" + sm + u"2" + sm + u"3" + sm + u"4",
       R"({"items":[{"id":"A","attr":1,"size":2}]})"},
      {text(u"H\r\n") + sm + u"5" + sm + u"6" + vm + u"D" + sm + u"0" + sm + u"1",
       R"({"items":[{"id":"D","attr":0,"size":1}]})"},
      // -32 lacks the directory bit; -3 has it (two's complement).
      {text(u"H\r\nA") + sm + u" -32" + sm + u"+9z" + vm + u"B" + sm + u"-3" + sm + u"9",
       R"({"items":[{"id":"A","attr":-32,"size":9},{"id":"B","attr":-3}]})"},
      {text(u"H\r\nBIG") + sm + u"0" + sm + u"99999999999",
       R"({"items":[{"id":"BIG","attr":0,"size":99999999999}]})"},
      {text(u"H\r\nA") + sm + u"0" + sm + u"99999999999999999999",
       R"({"items":[{"id":"A","attr":0,"size":9223372036854775807}]})"},
      // Only the first CR LF ends the header; names are written as UTF-8 and escaped.
      {text(u"H\r\nX\r\n\u00E9\"") + sm + u"0" + sm + u"1",
       "{\"items\":[{\"id\":\"X\\r\\n\xC3\xA9\\\"\",\"attr\":0,\"size\":1}]}"},
  };
  for (const listing_case& c : cases) {
    fake_host fresh;
    fresh.script("list_items", c.listing);
    std::string out;
    action_request r{"dir", {"MD"}, body, env, session, fresh};
    EXPECT_EQ(list_directory_action(r, out), 200);
    EXPECT_EQ(out, json_reply_text(c.json)) << printable_text(c.listing);
  }
}

TEST_F(directory_actions_test, ListingRefusalsMakeNoHostCall) {
  debug_level = 1;
  struct refusal_case {
    std::vector<std::string> rest;
    std::string code;
    std::string message;
    std::string diagnostic;
  };
  const refusal_case cases[] = {
      {{}, "200", "File name missing from URL path.", "invalid path for dir: "},
      {{"sales"}, "201", "File MD, VOC or account name is not valid.",
       "invalid MD/VOC for dir: sales"},
      {{"MD", "F", "D", "X"}, "200", "File name missing from URL path.",
       "invalid path for dir: MD/F/D/X"},
  };
  for (const refusal_case& c : cases) {
    fake_host fresh;
    std::string out;
    action_request r{"dir", c.rest, body, env, session, fresh};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(list_directory_action(r, out), 400);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.diagnostic + "\n");
    EXPECT_EQ(out, error_reply_text(c.message, c.code));
    EXPECT_TRUE(fresh.calls.empty());
  }
}

TEST_F(directory_actions_test, ListingPassesHostErrorsThrough) {
  host.script_error("list_items", _com_error(host_error_code(200), u"File not found"));
  EXPECT_THROW(list_directory_action(request("dir", {"MD", "NOPE"}), reply), _com_error);
  EXPECT_EQ(host.calls, calls{list_call(u"DICT NOPE", 0, 0)});
}

// ---- stat

TEST_F(directory_actions_test, StatAsksWithTheSelectorMinusOneMarkMinusTwo) {
  host.script("stat_item", u"0\r\n12");
  EXPECT_EQ(stat_action(request("stat", {"MD", "CUST", "CUST", "C1"}), reply), 200);
  const text selector = text(u"-1") + vm + u"-2";
  EXPECT_EQ(host.calls, (calls{{"stat_item", {u"CUST", u"C1", selector}, {}}}));
  EXPECT_EQ(reply, json_reply_text(R"({"attr":0,"size":12})"));
}

struct stat_case {
  text result;
  std::string json;
};

TEST_F(directory_actions_test, StatReadsTheFirstTwoNonEmptyLines) {
  const stat_case cases[] = {
      {u"16\r\n2048", R"({"attr":16,"size":0})"},
      {u"32\r\n2048", R"({"attr":32,"size":2048})"},
      {u"\r\n5\r\n7", R"({"attr":5,"size":7})"},
      {u"", R"({"attr":0,"size":0})"},
      {u"7", R"({"attr":7,"size":0})"},
      {u"7\r\n", R"({"attr":7,"size":0})"},
      {u"\r\n\r\n\r\n3\r\n\r\n4\r\n9", R"({"attr":3,"size":4})"},
      {u"abc\r\n5", R"({"attr":0,"size":5})"},
      {u" 1x\r\n 64 bytes", R"({"attr":1,"size":64})"},
      {u"-1\r\n-5", R"({"attr":-1,"size":0})"},
      {u"-32\r\n-5", R"({"attr":-32,"size":-5})"},
      {u"1\r2\r\n3", R"({"attr":1,"size":3})"},
      {u"0\r\n4294967296", R"({"attr":0,"size":4294967296})"},
  };
  for (const stat_case& c : cases) {
    fake_host fresh;
    fresh.script("stat_item", c.result);
    std::string out;
    action_request r{"stat", {"MD", "X"}, body, env, session, fresh};
    EXPECT_EQ(stat_action(r, out), 200);
    EXPECT_EQ(out, json_reply_text(c.json)) << printable_text(c.result);
  }
}

TEST_F(directory_actions_test, StatRefusalsMakeNoHostCall) {
  debug_level = 1;
  struct refusal_case {
    std::vector<std::string> rest;
    std::string code;
    std::string message;
    std::string diagnostic;
  };
  const refusal_case cases[] = {
      {{}, "200", "File name missing from URL path.", "file name missing for stat: "},
      {{"X", "Y"}, "201", "File MD, VOC or account name is not valid.",
       "invalid MD/VOC for stat: X/Y"},
      {{"MD"}, "203", "File name or item ID missing from URL path.", "invalid path for stat: MD"},
  };
  for (const refusal_case& c : cases) {
    fake_host fresh;
    std::string out;
    action_request r{"stat", c.rest, body, env, session, fresh};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(stat_action(r, out), 400);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.diagnostic + "\n");
    EXPECT_EQ(out, error_reply_text(c.message, c.code));
    EXPECT_TRUE(fresh.calls.empty());
  }
}

}  // namespace
}  // namespace ombrix
