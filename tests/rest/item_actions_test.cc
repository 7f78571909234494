#include <gtest/gtest.h>

#include <stdexcept>
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

std::string error_reply_text(int status, std::string_view message, std::string_view code) {
  return "Content-Type:application/json\r\n\r\n{\"status\":" + std::to_string(status) +
         ",\"message\":\"" + std::string(message) + "\",\"code\":\"" + std::string(code) + "\"}";
}

class item_actions_test : public ::testing::Test {
 protected:
  void TearDown() override {
    debug_level = saved_debug_level_;
    host_version = saved_host_version_;
    case_insensitive = saved_case_insensitive_;
  }

  action_request request(std::string action, std::vector<std::string> rest) {
    return action_request{std::move(action), std::move(rest), body, env, session, host};
  }

  kelm_info session{"SALES**test", "SALES", "MD"};
  environment env;
  std::string body;
  fake_host host;
  std::string reply = "stale";

 private:
  int saved_debug_level_ = debug_level;
  int saved_host_version_ = host_version;
  bool saved_case_insensitive_ = case_insensitive;
};

host_call read_call(text file, text item) { return {"read_item", {file, item}, {0, 0, 0, 0}}; }
host_call write_call(text file, text item, text content) {
  return {"write_item", {file, item, content}, {0, 0, 0, 0}};
}
host_call create_call(text file, text item, text content) {
  return {"create_item", {file, item, content}, {}};
}

// ---- read

TEST_F(item_actions_test, ReadAnswersIdTypeAndDataInThatOrder) {
  host.script("read_item", text(u"A\r\nB") + vm + u"C");
  EXPECT_EQ(read_item_action(request("file", {"MD", "X"}), reply), 200);
  EXPECT_EQ(host.calls, calls{read_call(u"MD", u"X")});
  EXPECT_EQ(reply, json_reply_text(R"({"id":"X","type":"array","data":["A",["B","C"]]})"));
}

TEST_F(item_actions_test, ReadResolvesEachPathShapeToItsFile) {
  struct path_case {
    std::vector<std::string> rest;
    text file;
  };
  const path_case cases[] = {
      {{"SALES", "X"}, u"MD"},
      {{"MD", "CUSTOMERS", "X"}, u"DICT CUSTOMERS"},
      {{"MD", "CUSTOMERS", "CUSTOMERS", "X"}, u"CUSTOMERS"},
      {{"MD", "CUSTOMERS", "HIST", "X"}, u"CUSTOMERS,HIST"},
  };
  for (const path_case& c : cases) {
    fake_host fresh;
    action_request r{"file", c.rest, body, env, session, fresh};
    EXPECT_EQ(read_item_action(r, reply), 200);
    EXPECT_EQ(fresh.calls, calls{read_call(c.file, u"X")});
  }
}

TEST_F(item_actions_test, ReadOfEmptyItemGivesOneEmptyString) {
  EXPECT_EQ(read_item_action(request("file", {"MD", "EMPTY"}), reply), 200);
  EXPECT_EQ(reply, json_reply_text(R"({"id":"EMPTY","type":"array","data":[""]})"));
}

TEST_F(item_actions_test, ReadEchoesADecodedNonAsciiIdAndContent) {
  host.script("read_item", text(u"caf\u00E9") + sm + u"\u20AC\r\n\"q\"");
  EXPECT_EQ(read_item_action(request("file", {"MD", "\xC3\xA9 1"}), reply), 200);
  EXPECT_EQ(host.calls, calls{read_call(u"MD", u"\u00E9 1")});
  EXPECT_EQ(reply, json_reply_text("{\"id\":\"\xC3\xA9 1\",\"type\":\"array\",\"data\":"
                                   "[[[\"caf\xC3\xA9\",\"\xE2\x82\xAC\"]],\"\\\"q\\\"\"]}"));
}

TEST_F(item_actions_test, ReadPassesHostErrorsThrough) {
  host.script_error("read_item", _com_error(host_error_code(202), u"Item not found"));
  try {
    read_item_action(request("file", {"MD", "GONE"}), reply);
    FAIL() << "expected the host error";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), host_error_code(202));
    EXPECT_EQ(error.Description(), u"Item not found");
  }
  EXPECT_EQ(host.calls, calls{read_call(u"MD", u"GONE")});
}

TEST_F(item_actions_test, PathThatIsNotUtf8ThrowsBeforeAnyHostCall) {
  EXPECT_THROW(read_item_action(request("file", {"MD", "\xC3("}), reply), std::range_error);
  EXPECT_TRUE(host.calls.empty());
}

// ---- path refusals of all four actions happen before any host call

TEST_F(item_actions_test, PathRefusalsMakeNoHostCall) {
  using action_fn = int (*)(const action_request&, std::string&);
  struct refusal_case {
    action_fn action;
    std::string name;
    std::vector<std::string> rest;
    std::string code;
    std::string message;
  };
  const refusal_case cases[] = {
      {read_item_action, "file", {}, "200", "File name missing from URL path."},
      {read_item_action, "file", {"VOC", "X"}, "201", "File MD, VOC or account name is not valid."},
      {read_item_action, "file", {"MD"}, "203", "File name or item ID missing from URL path."},
      {update_item_action, "file", {}, "200", "File name missing from URL path."},
      {update_item_action, "file", {"md", "X"}, "201", "File MD, VOC or account name is not valid."},
      {create_item_action, "create", {"MD", "A", "B", "C", "D"}, "203",
       "File name or item ID missing from URL path."},
      {delete_item_action, "file", {"MD"}, "203", "File name or item ID missing from URL path."},
      {delete_item_action, "file", {"", "X"}, "201", "File MD, VOC or account name is not valid."},
  };
  body = R"({"data":["A"]})";
  for (const refusal_case& c : cases) {
    fake_host fresh;
    std::string out;
    action_request r{c.name, c.rest, body, env, session, fresh};
    EXPECT_EQ(c.action(r, out), 400) << c.message;
    EXPECT_EQ(out, error_reply_text(400, c.message, c.code));
    EXPECT_TRUE(fresh.calls.empty()) << c.message;
  }
}

// ---- update and create bodies

TEST_F(item_actions_test, UpdateWritesTheItemTextOfTheDataArray) {
  body = R"({"data": ["NAME", ["ADDR1","ADDR2"], "42.50"], "other": 1})";
  EXPECT_EQ(update_item_action(request("file", {"MD", "CUST", "CUST", "C1"}), reply), 200);
  EXPECT_EQ(host.calls, calls{write_call(u"CUST", u"C1",
                                         text(u"NAME\r\nADDR1") + vm + u"ADDR2\r\n42.50")});
  EXPECT_EQ(reply, "");
}

TEST_F(item_actions_test, UpdateUsesTheFirstOfTwoDataMembers) {
  body = R"({"data":["first"],"data":["second"]})";
  EXPECT_EQ(update_item_action(request("file", {"MD", "X"}), reply), 200);
  EXPECT_EQ(host.calls, calls{write_call(u"MD", u"X", u"first")});
}

TEST_F(item_actions_test, UpdateIgnoresTheDirOption) {
  env["QS_DIR"] = "true";
  body = R"({"data":["v"]})";
  EXPECT_EQ(update_item_action(request("file", {"MD", "X"}), reply), 200);
  EXPECT_EQ(host.calls, calls{write_call(u"MD", u"X", u"v")});
}

struct body_refusal_case {
  std::string body;
  std::string message;
  std::string diagnostic;  // for action "file"
};

const body_refusal_case body_refusals[] = {
    {"", "Malformed JSON payload.", "invalid JSON payload for 'file"},
    {R"(["data"])", "Malformed JSON payload.", "invalid JSON payload for 'file"},
    {R"({"data":["a"])", "Malformed JSON payload.", "invalid JSON payload for 'file"},
    {R"({"data":["a"]])", "Malformed JSON payload.", "invalid JSON payload for 'file"},
    {R"({})", "'data' property missing from JSON payload.", "no 'data' property found for 'file'"},
    {R"({"Data":["a"]})", "'data' property missing from JSON payload.",
     "no 'data' property found for 'file'"},
    {R"({"data":{"a":["b"]}})", "'data' property must be a JSON array.",
     "'data' property must be a JSON array for 'file'"},
    {R"({"data":"a"})", "'data' property must be a JSON array.",
     "'data' property must be a JSON array for 'file'"},
    {R"({"data":5})", "'data' property must be a JSON array.",
     "'data' property must be a JSON array for 'file'"},
    {R"({"data":null})", "'data' property must be a JSON array.",
     "'data' property must be a JSON array for 'file'"},
    {R"({"data":[[[["deep"]]]]})", "Malformed JSON array in 'data' property.",
     "invalid JSON array format for 'file'"},
};

TEST_F(item_actions_test, UpdateBodyRefusalsMakeNoHostCall) {
  debug_level = 1;
  for (const body_refusal_case& c : body_refusals) {
    fake_host fresh;
    std::string out;
    action_request r{"file", {"MD", "X"}, c.body, env, session, fresh};
    ::testing::internal::CaptureStderr();
    const int status = update_item_action(r, out);
    const std::string diagnostics = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, 400) << c.body;
    EXPECT_EQ(out, error_reply_text(400, c.message, "")) << c.body;
    EXPECT_EQ(diagnostics, c.diagnostic + "\n") << c.body;
    EXPECT_TRUE(fresh.calls.empty()) << c.body;
  }
}

TEST_F(item_actions_test, CreateBodyRefusalNamesTheCreateAction) {
  debug_level = 1;
  body = "{}";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(create_item_action(request("create", {"MD", "X"}), reply), 400);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "no 'data' property found for 'create'\n");
  EXPECT_EQ(reply, error_reply_text(400, "'data' property missing from JSON payload.", ""));
}

TEST_F(item_actions_test, BodyRefusalsAreSilentAtDebugLevelZero) {
  debug_level = 0;
  body = "[]";
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(update_item_action(request("file", {"MD", "X"}), reply), 400);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(item_actions_test, DataThatIsNotUtf8ThrowsBeforeAnyHostCall) {
  body = "{\"data\":[\"\xFF\"]}";
  EXPECT_THROW(update_item_action(request("file", {"MD", "X"}), reply), std::range_error);
  EXPECT_TRUE(host.calls.empty());
}

// ---- create

TEST_F(item_actions_test, CreateOnGeneration80IsOneCallWithTheContent) {
  host_version = 80;
  body = R"({"data":["a",["b","c"]]})";
  EXPECT_EQ(create_item_action(request("create", {"SALES", "F", "X"}), reply), 200);
  EXPECT_EQ(host.calls, calls{create_call(u"DICT F", u"X", text(u"a\r\nb") + vm + u"c")});
  EXPECT_EQ(reply, "");
}

TEST_F(item_actions_test, CreateOnGeneration71CreatesEmptyThenWrites) {
  host_version = 71;
  body = R"({"data":["a",["b","c"]]})";
  EXPECT_EQ(create_item_action(request("create", {"SALES", "F", "X"}), reply), 200);
  EXPECT_EQ(host.calls, (calls{create_call(u"DICT F", u"X", u""),
                               write_call(u"DICT F", u"X", text(u"a\r\nb") + vm + u"c")}));
  EXPECT_EQ(reply, "");
}

TEST_F(item_actions_test, CreateOnGeneration71StopsWhenTheCreateFails) {
  host_version = 71;
  body = R"({"data":["a"]})";
  host.script_error("create_item", _com_error(host_error_code(204), u"Item already exists"));
  EXPECT_THROW(create_item_action(request("create", {"MD", "X"}), reply), _com_error);
  EXPECT_EQ(host.calls, calls{create_call(u"MD", u"X", u"")});
}

TEST_F(item_actions_test, CreateRefusesDirTrueInAnyCase) {
  debug_level = 1;
  body = R"({"data":["a"]})";
  for (const char* value : {"true", "TRUE", "True"}) {
    fake_host fresh;
    std::string out;
    environment options{{"QS_DIR", value}};
    action_request r{"create", {"MD", "F", "NEW"}, body, options, session, fresh};
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(create_item_action(r, out), 400);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "invalid option 'dir=true' for 'create': MD/F/NEW\n");
    EXPECT_EQ(out, error_reply_text(400, "Creating new directories is not supported.", ""));
    EXPECT_TRUE(fresh.calls.empty());
  }
}

TEST_F(item_actions_test, CreateAcceptsOtherDirValues) {
  host_version = 80;
  body = R"({"data":["a"]})";
  for (const char* value : {"yes", "1", "", "false", "true "}) {
    fake_host fresh;
    std::string out;
    environment options{{"QS_DIR", value}};
    action_request r{"create", {"MD", "X"}, body, options, session, fresh};
    EXPECT_EQ(create_item_action(r, out), 200) << value;
    EXPECT_EQ(fresh.calls, calls{create_call(u"MD", u"X", u"a")}) << value;
  }
}

TEST_F(item_actions_test, CreateChecksThePathBeforeTheDirOption) {
  env["QS_DIR"] = "true";
  body = R"({"data":["a"]})";
  EXPECT_EQ(create_item_action(request("create", {"MD"}), reply), 400);
  EXPECT_EQ(reply, error_reply_text(400, "File name or item ID missing from URL path.", "203"));
}

// ---- delete

TEST_F(item_actions_test, DeleteRemovesTheItemAndAnswersEmpty) {
  EXPECT_EQ(delete_item_action(request("file", {"MD", "F", "F", "X"}), reply), 200);
  EXPECT_EQ(host.calls, (calls{{"delete_item", {u"F", u"X"}, {}}}));
  EXPECT_EQ(reply, "");
}

TEST_F(item_actions_test, DeleteOfRootOnlyIsRefusedWithCode203) {
  debug_level = 1;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(delete_item_action(request("file", {"SALES"}), reply), 400);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "invalid path for delete: SALES\n");
  EXPECT_EQ(reply, error_reply_text(400, "File name or item ID missing from URL path.", "203"));
  EXPECT_TRUE(host.calls.empty());
}

}  // namespace
}  // namespace ombrix
