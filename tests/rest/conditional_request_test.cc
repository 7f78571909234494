// Conditional item requests and the other opt-ins of the item, listing and rename actions:
// the headers parsed, the exact replies and host calls, and a plain request's bytes unchanged.
#include "rest/conditional_request.h"

#include "host/host_errors.h"
#include "host/item_tag.h"
#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

const kelm_info session{"SALES**test", "SALES", "MD"};

TEST(conditional_request_test, HeadersBecomeConditions) {
  const struct {
    const char *if_match, *if_none_match;
    bool valid, must_exist, must_be_absent;
    std::vector<std::string> match, none_match;
  } cases[] = {
      {"", "", true, false, false, {}, {}},
      {" \"a1\" , \"b2\"", "", true, false, false, {"a1", "b2"}, {}},
      {"*", "", true, true, false, {}, {}},
      {"", "*", true, false, true, {}, {}},
      {"", "W/\"w\", \"s\"", true, false, false, {}, {"w", "s"}},  // weak comparison
      {"W/\"w\"", "", true, false, false, {"-"}, {}},             // strong: matches nothing
      {"a1", "", false, false, false, {}, {}},
      {"x\", \"y\"", "", false, false, false, {}, {}},  // a tag must open with its quote
      {"\"a\" \"b\"", "", false, false, false, {}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.if_match) + " | " + c.if_none_match);
    const std::optional<item_condition> condition =
        request_condition({{"HTTP_IF_MATCH", c.if_match}, {"HTTP_IF_NONE_MATCH", c.if_none_match}});
    ASSERT_EQ(condition.has_value(), c.valid);
    if (!c.valid) continue;
    EXPECT_EQ(condition->must_exist, c.must_exist);
    EXPECT_EQ(condition->must_be_absent, c.must_be_absent);
    EXPECT_EQ(condition->match, c.match);
    EXPECT_EQ(condition->none_match, c.none_match);
  }
}

TEST(conditional_request_test, ConditionsHoldOrNotForAnItemOrNone) {
  const text item = u"A\r\nB", other = u"A\r\nC";
  const std::string tag = item_tag(item);
  const struct { item_condition condition; const text* current; bool holds; } cases[] = {
      {{}, nullptr, true},
      {{true, false, {}, {}}, nullptr, false},
      {{true, false, {}, {}}, &item, true},
      {{false, true, {}, {}}, &item, false},
      {{false, false, {tag}, {}}, &item, true},
      {{false, false, {tag}, {}}, &other, false},
      {{false, false, {}, {tag}}, &item, false},
      {{false, false, {}, {tag}}, &other, true},
  };
  for (const auto& c : cases) EXPECT_EQ(c.condition.holds(c.current), c.holds) << &c - cases;
}

const text stored = u"old\r\nitem";
const std::string stored_tag = item_tag(stored);
const std::string precondition_reply =
    error_reply(412, "Precondition failed: the item is not in the state the request expects.");
const std::string new_tag = item_tag(u"new");

std::string tagged(std::string_view tag, std::string_view json = {}) {
  return "Content-Type:application/json\r\nETag: \"" + std::string(tag) + "\"\r\n\r\n" +
         (json.empty() ? "" : std::string(json) + "\r\n");
}

TEST(conditional_request_test, ItemActionsCheckConditionsInOneHostStep) {
  const std::string body = R"({"data":["new"]})";
  const std::vector<std::string> x{"MD", "F", "F", "X"};
  const std::vector<std::pair<std::string, text>> current = {{"read_item", stored}};
  const calls read_x{read_call(u"F", u"X")};
  check_actions({
      {"PutStale", update_item_action, "file", x, body, {{"HTTP_IF_MATCH", "\"0123\""}}, 412, precondition_reply,
       read_x, std::nullopt, current},
      {"PutMalformedHeader", update_item_action, "file", x, body, {{"HTTP_IF_MATCH", "nope"}}, 400,
       error_reply(400, "Malformed If-Match or If-None-Match header."), {}},
      {"DeleteMatching", delete_item_action, "file", x, "", {{"HTTP_IF_MATCH", "\"" + stored_tag + "\""}}, 200,
       "", {read_call(u"F", u"X"), delete_call(u"F", u"X")}, std::nullopt, current},
      {"GetTagged", read_item_action, "file", x, "", {{"QS_ETAG", "1"}}, 200,
       tagged(stored_tag, R"({"id":"X","type":"array","data":["old","item"]})"), read_x, std::nullopt, current},
      {"IdParameterNamesTheItem", read_item_action, "file", {"MD", "F", "F"}, "", {{"QS_ID", "a/b"}}, 200,
       json_reply(R"({"id":"a/b","type":"array","data":["old","item"]})"), {read_call(u"F", u"a/b")},
       std::nullopt, current},
  }, session);
}

TEST(conditional_request_test, CreateOnlyWritesAMissingItem) {
  const settings config;
  item_lock_table locks;
  const environment env{{"HTTP_IF_NONE_MATCH", "*"}};
  const std::string body = R"({"data":["new"]})";
  std::string reply;
  fake_host host;
  host.script_error("read_item", _com_error(host_error_code(202), u"Item 'X' not found."));
  EXPECT_EQ(update_item_action({"file", {"MD", "F", "F", "X"}, body, env, session, host, locks, config}, reply), 200);
  EXPECT_EQ(reply, tagged(new_tag));
  EXPECT_EQ(host.calls, (calls{read_call(u"F", u"X"), write_call(u"F", u"X", u"new")}));
}

}  // namespace
}  // namespace ombrix
