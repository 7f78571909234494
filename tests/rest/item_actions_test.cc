#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

const kelm_info session{"SALES**test", "SALES", "MD"};

std::string refused(std::string_view message, std::string_view code = "") {
  return error_reply(400, message, code);
}

const char bad_root[] = "File MD, VOC or account name is not valid.";
const char no_item[] = "File name or item ID missing from URL path.";

TEST(item_actions_test, ReadResolvesEachPathAndAnswersIdTypeAndData) {
  const text read = text(u"A\r\nB") + vm + u"C";
  check_actions(
      {
          {"IdTypeDataInOrder", read_item_action, "file", {"MD", "X"}, "", {}, 200,
           json_reply(R"({"id":"X","type":"array","data":["A",["B","C"]]})"),
           {read_call(u"MD", u"X")}, "", {{"read_item", read}}},
          {"Dictionary", read_item_action, "file", {"MD", "CUSTOMERS", "X"}, "", {}, 200,
           json_reply(R"({"id":"X","type":"array","data":[""]})"),
           {read_call(u"DICT CUSTOMERS", u"X")}},
          {"OtherSection", read_item_action, "file", {"MD", "CUSTOMERS", "HIST", "X"}, "", {}, 200,
           json_reply(R"({"id":"X","type":"array","data":[""]})"),
           {read_call(u"CUSTOMERS,HIST", u"X")}},
          {"NonAsciiIdAndContent", read_item_action, "file", {"MD", "\xC3\xA9 1"}, "", {}, 200,
           json_reply("{\"id\":\"\xC3\xA9 1\",\"type\":\"array\",\"data\":"
                      "[[[\"caf\xC3\xA9\",\"\xE2\x82\xAC\"]],\"\\\"q\\\"\"]}"),
           {read_call(u"MD", u"\u00E9 1")}, "",
           {{"read_item", text(u"caf\u00E9") + sm + u"\u20AC\r\n\"q\""}}},
      },
      session);
}

// A host that keeps the reply's rendering as the stores do: the first read renders and keeps it,
// later ones reuse it; `read_again` runs the read once more after a reuse, as a store does when
// its snapshot has to be taken again.
class keeping_host : public fake_host {
 public:
  std::shared_ptr<const std::string> kept;
  bool read_again = false;
  void read_item_pieces(const text&, const text&, item_text_sink& sink) override {
    if (kept && sink.reuse(kept) && !read_again) return;
    const text content = read_again ? u"NEW" : u"OLD";
    sink.begin(content.size());
    sink.piece(content);
    sink.end();
    if (!kept) kept = sink.rendering(1 << 20);
  }
};

// A kept reply is handed back shared, byte for byte what a fresh read makes; without a place
// for it, it is copied; a read run again after a reuse answers its own text, not the kept one.
TEST(item_actions_test, KeptRepliesAreSharedAndARepeatedReadIsItsOwn) {
  const settings config;
  item_lock_table locks;
  keeping_host host;
  const std::string old_reply = json_reply(R"({"id":"X","type":"array","data":["OLD"]})");
  const auto get = [&](std::shared_ptr<const std::string>* kept_out) {
    const action_request request{"file", {"MD", "X"}, "", {}, session, host, locks, config,
                                 kept_out};
    std::string reply = "stale";
    EXPECT_EQ(read_item_action(request, reply), 200);
    return reply;
  };
  std::shared_ptr<const std::string> shared;
  EXPECT_EQ(get(&shared), "");  // rendered, kept and handed over whole
  ASSERT_NE(shared, nullptr);
  EXPECT_EQ(*shared, old_reply);
  ASSERT_EQ(host.kept, shared);

  std::shared_ptr<const std::string> reused;
  EXPECT_EQ(get(&reused), "");
  EXPECT_EQ(reused, host.kept);  // the same text, not a copy
  EXPECT_EQ(get(nullptr), old_reply);

  host.read_again = true;
  std::shared_ptr<const std::string> again;
  EXPECT_EQ(get(&again), json_reply(R"({"id":"X","type":"array","data":["NEW"]})"));
  EXPECT_EQ(again, nullptr);
}

// Texts that are not UTF-8 throw before any host call; a failed create on generation 71 stops.
TEST(item_actions_test, ThrowsBeforeOrInsteadOfFurtherHostCalls) {
  settings config;
  item_lock_table locks;
  std::string reply;
  const std::string data = R"({"data":["a"]})";
  fake_host host;
  EXPECT_THROW(read_item_action({"file", {"MD", "\xC3("}, "", {}, session, host, locks, config}, reply),
               std::range_error);
  EXPECT_THROW(
      update_item_action({"file", {"MD", "X"}, "{\"data\":[\"\xFF\"]}", {}, session, host, locks, config}, reply),
      std::range_error);
  EXPECT_TRUE(host.calls.empty());
  config.host_version = 71;
  host.script_error("create_item", _com_error(host_error_code(204), u"Item already exists"));
  EXPECT_THROW(create_item_action({"create", {"MD", "X"}, data, {}, session, host, locks, config}, reply),
               _com_error);
  EXPECT_EQ(host.calls, calls{create_call(u"MD", u"X", u"")});
}

TEST(item_actions_test, PathRefusalsMakeNoHostCall) {
  const std::string data = R"({"data":["A"]})";
  check_actions(
      {
          {"ReadVoc", read_item_action, "file", {"VOC", "X"}, data, {}, 400,
           refused(bad_root, "201"), {}},
          {"UpdateLowerCaseRoot", update_item_action, "file", {"md", "X"}, data, {}, 400,
           refused(bad_root, "201"), {}},
          {"DeleteRootOnly", delete_item_action, "file", {"SALES"}, "", {}, 400,
           refused(no_item, "203"), {}, "invalid path for delete: SALES\n"},
          {"CreatePathBeforeDir", create_item_action, "create", {"MD"}, data, {{"QS_DIR", "true"}},
           400, refused(no_item, "203"), {}},
      },
      session);
}

TEST(item_actions_test, UpdateCreateAndDeleteMakeTheExactHostCalls) {
  const std::string data = R"({"data":["a",["b","c"]]})";
  const text content = text(u"a\r\nb") + vm + u"c";
  check_actions(
      {
          {"UpdateWritesItemText", update_item_action, "file", {"MD", "CUST", "CUST", "C1"},
           R"({"data": ["NAME", ["ADDR1","ADDR2"], "42.50"], "other": 1})", {}, 200, "",
           {write_call(u"CUST", u"C1", text(u"NAME\r\nADDR1") + vm + u"ADDR2\r\n42.50")}},
          {"UpdateFirstOfTwoData", update_item_action, "file", {"MD", "X"},
           R"({"data":["first"],"data":["second"]})", {}, 200, "",
           {write_call(u"MD", u"X", u"first")}},
          {"Create80OneCall", create_item_action, "create", {"SALES", "F", "X"}, data, {}, 200, "",
           {create_call(u"DICT F", u"X", content)}},
          {"Create71EmptyThenWrite", create_item_action, "create", {"SALES", "F", "X"}, data, {},
           200, "", {create_call(u"DICT F", u"X", u""), write_call(u"DICT F", u"X", content)},
           std::nullopt, {}, 71},
          {"Delete", delete_item_action, "file", {"MD", "F", "F", "X"}, "", {}, 200, "",
           {delete_call(u"F", u"X")}},
      },
      session);
}

TEST(item_actions_test, CreateRefusesDirTrueInAnyCaseOnly) {
  const std::string data = R"({"data":["a"]})";
  for (const char* value : {"true", "TRUE", "True"}) {
    check_action({value, create_item_action, "create", {"MD", "F", "NEW"}, data,
                  {{"QS_DIR", value}}, 400, refused("Creating new directories is not supported."),
                  {}, "invalid option 'dir=true' for 'create': MD/F/NEW\n"},
                 session);
  }
  for (const char* value : {"yes", "1", "", "false", "true "}) {
    check_action({value, create_item_action, "create", {"MD", "X"}, data, {{"QS_DIR", value}},
                  200, "", {create_call(u"MD", u"X", u"a")}},
                 session);
  }
}

TEST(item_actions_test, BodyRefusalsMakeNoHostCall) {
  const char malformed[] = "Malformed JSON payload.";
  const char missing[] = "'data' property missing from JSON payload.";
  const char not_array[] = "'data' property must be a JSON array.";
  struct body_case {
    std::string body;
    std::string message;
    std::string diagnostic;  // for action "file"
  };
  const body_case cases[] = {
      {"", malformed, "invalid JSON payload for 'file"},
      {R"({"data":["a"])", malformed, "invalid JSON payload for 'file"},
      {R"({})", missing, "no 'data' property found for 'file'"},
      {R"({"data":{"a":["b"]}})", not_array, "'data' property must be a JSON array for 'file'"},
      {R"({"data":[[[["deep"]]]]})", "Malformed JSON array in 'data' property.",
       "invalid JSON array format for 'file'"},
      // Regression: a number or literal used to be dropped and the item stored shifted.
      {R"({"data":["A",42,true,null,"B"]})", "Malformed JSON array in 'data' property.",
       "invalid JSON array format for 'file'"},
  };
  for (const body_case& c : cases) {
    check_action({c.body, update_item_action, "file", {"MD", "X"}, c.body, {}, 400,
                  refused(c.message), {}, c.diagnostic + "\n"},
                 session);
  }
  check_action({"CreateNamesItsAction", create_item_action, "create", {"MD", "X"}, "{}", {}, 400,
                refused(missing), {}, "no 'data' property found for 'create'\n"},
               session);
  // Quiet at debug level zero.
  const settings config;  // debug level zero
  item_lock_table locks;
  fake_host host;
  std::string reply;
  EXPECT_EQ(stderr_of([&] {
              EXPECT_EQ(update_item_action({"file", {"MD", "X"}, "[]", {}, session, host, locks, config}, reply),
                        400);
            }),
            "");
}

}  // namespace
}  // namespace ombrix
