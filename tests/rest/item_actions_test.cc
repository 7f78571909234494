#include <stdexcept>

#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

const kelm_info session{"SALES**test", "SALES", "MD"};
const char bad_root[] = "File MD, VOC or account name is not valid.";
const char no_item[] = "File name or item ID missing from URL path.";
const char malformed[] = "Malformed JSON payload.";
const char missing[] = "'data' property missing from JSON payload.";
const char bad_array[] = "Malformed JSON array in 'data' property.";

std::string item_reply(std::string_view id, std::string_view data) {
  return json_reply("{\"id\":\"" + std::string(id) + "\",\"type\":\"array\",\"data\":" + std::string(data) + "}");
}

TEST(item_actions_test, ReadUpdateCreateAndDeleteMakeTheExactHostCalls) {
  const std::string data = R"({"data":["a",["b","c"]]})";
  const text content = text(u"a\r\nb") + vm + u"c";
  check_actions({
      {"Read", read_item_action, "file", {"MD", "X"}, "", {}, 200, item_reply("X", R"(["a",["b","c"]])"),
       {read_call(u"MD", u"X")}, "", {{"read_item", content}}},
      {"ReadNonAscii", read_item_action, "file", {"MD", "\xC3\xA9 1"}, "", {}, 200,
       item_reply("\xC3\xA9 1", "[[[\"caf\xC3\xA9\",\"\xE2\x82\xAC\"]],\"\\\"q\\\"\"]"),
       {read_call(u"MD", u"\u00E9 1")}, "", {{"read_item", text(u"caf\u00E9") + sm + u"\u20AC\r\n\"q\""}}},
      {"Update", update_item_action, "file", {"MD", "CUST", "CUST", "C1"},
       R"({"data": ["NAME", ["ADDR1","ADDR2"], "42.50"], "other": 1})", {}, 200, "",
       {write_call(u"CUST", u"C1", text(u"NAME\r\nADDR1") + vm + u"ADDR2\r\n42.50")}},
      {"Create80", create_item_action, "create", {"SALES", "F", "X"}, data, {}, 200, "",
       {create_call(u"DICT F", u"X", content)}},
      {"Create71EmptyThenWrite", create_item_action, "create", {"SALES", "F", "X"}, data, {}, 200, "",
       {create_call(u"DICT F", u"X", u""), write_call(u"DICT F", u"X", content)}, std::nullopt, {}, 71},
      {"Delete", delete_item_action, "file", {"MD", "F", "F", "X"}, "", {}, 200, "", {delete_call(u"F", u"X")}},
  }, session);
}

TEST(item_actions_test, RefusalsMakeNoHostCall) {
  const auto refusal = [](action_fn action, std::string name, std::vector<std::string> rest,
                          std::string body, environment env, std::string message, std::string code,
                          std::string diagnostic) {
    return action_case{body + diagnostic, action, std::move(name), std::move(rest), body, std::move(env), 400,
                       error_reply(400, message, code), {}, diagnostic + "\n"};
  };
  const std::string a = R"({"data":["a"]})";
  check_actions({
      refusal(read_item_action, "file", {"VOC", "X"}, a, {}, bad_root, "201", "invalid MD/VOC for read: VOC/X"),
      refusal(delete_item_action, "file", {"SALES"}, "", {}, no_item, "203", "invalid path for delete: SALES"),
      refusal(create_item_action, "create", {"MD"}, a, {{"QS_DIR", "true"}}, no_item, "203",
              "invalid path for update/create: MD"),
      refusal(create_item_action, "create", {"MD", "F", "NEW"}, a, {{"QS_DIR", "True"}},
              "Creating new directories is not supported.", "",
              "invalid option 'dir=true' for 'create': MD/F/NEW"),
      refusal(update_item_action, "file", {"MD", "X"}, "", {}, malformed, "", "invalid JSON payload for 'file"),
      refusal(create_item_action, "create", {"MD", "X"}, "{}", {}, missing, "",
              "no 'data' property found for 'create'"),
      refusal(update_item_action, "file", {"MD", "X"}, R"({"data":{"a":["b"]}})", {},
              "'data' property must be a JSON array.", "", "'data' property must be a JSON array for 'file'"),
      // Regression: a number or literal used to be dropped and the item stored shifted.
      refusal(update_item_action, "file", {"MD", "X"}, R"({"data":["A",42,true,null,"B"]})", {}, bad_array,
              "", "invalid JSON array format for 'file'"),
  }, session);
}

// Texts that are not UTF-8 throw before any host call; a failed create on generation 71 stops.
TEST(item_actions_test, ThrowsBeforeOrInsteadOfFurtherHostCalls) {
  settings config;
  item_lock_table locks;
  std::string reply;
  fake_host host;
  EXPECT_THROW(read_item_action({"file", {"MD", "\xC3("}, "", {}, session, host, locks, config}, reply),
               std::range_error);
  EXPECT_TRUE(host.calls.empty());
  config.host_version = 71;
  host.script_error("create_item", _com_error(host_error_code(204), u"Item already exists"));
  EXPECT_THROW(create_item_action({"create", {"MD", "X"}, R"({"data":["a"]})", {}, session, host, locks,
                                   config}, reply), _com_error);
  EXPECT_EQ(host.calls, calls{create_call(u"MD", u"X", u"")});
}

}  // namespace
}  // namespace ombrix
