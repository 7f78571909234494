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

std::string error_reply_text(std::string_view message, std::string_view code) {
  return "Content-Type:application/json\r\n\r\n{\"status\":400,\"message\":\"" +
         std::string(message) + "\",\"code\":\"" + std::string(code) + "\"}";
}

class command_actions_test : public ::testing::Test {
 protected:
  void TearDown() override {
    debug_level = saved_debug_level_;
    case_insensitive = saved_case_insensitive_;
  }

  int run(int (*action)(const action_request&, std::string&), std::string name,
          std::vector<std::string> rest) {
    action_request r{std::move(name), std::move(rest), body, env, session, host};
    return action(r, reply);
  }
  int cmd(std::vector<std::string> rest) { return run(command_action, "cmd", std::move(rest)); }
  int call(std::vector<std::string> rest) { return run(call_action, "call", std::move(rest)); }

  kelm_info session{"SALES**test", "SALES", "MD"};
  environment env;
  std::string body;
  fake_host host;
  std::string reply = "stale";

 private:
  int saved_debug_level_ = debug_level;
  bool saved_case_insensitive_ = case_insensitive;
};

host_call ftfscmd_call(text command, text parameters) {
  return {"call_subroutine", {u"FTFSCMD", command, parameters}, {}};
}

// ---- cmd: the parameter text

struct option_case {
  std::string body;
  text names;   // line 3
  text values;  // line 4
};

TEST_F(command_actions_test, CmdOptionLinesFollowTheMemberTableOrder) {
  const option_case cases[] = {
      // a string, b array, c number: one mark only, between a and c.
      {R"({"a":"x","b":[1,2],"c":5})", text(u"a") + vm + u"c", text(u"x") + vm + u"5"},
      // A skipped member at the end leaves a trailing mark on both lines.
      {R"({"a":"x","z":{"k":1}})", text(u"a") + vm, text(u"x") + vm},
      {R"({"o":{},"p":[]})", u"", u""},
      {R"({"t":true,"f":false,"n":null})", text(u"f") + vm + u"n" + vm + u"t",
       text(u"0") + vm + vm + u"1"},
      {"", u"", u""},
      {"{}", u"", u""},
      {"[1,2]", u"", u""},
      // Members come in name order, not text order.
      {R"({"b":"1","a":"2"})", text(u"a") + vm + u"b", text(u"2") + vm + u"1"},
      {R"({"i":-42,"j":9223372036854775807})", text(u"i") + vm + u"j",
       text(u"-42") + vm + u"9223372036854775807"},
      {R"({"r":3.14159265})", u"r", u"3.14159"},
      {R"({"r":1.0e20})", u"r", u"1e+20"},
      {R"({"r":-0.5})", u"r", u"-0.5"},
      {R"({"r":100.0})", u"r", u"100"},
      {"{\"\xC3\xA9\":\"\xE2\x82\xAC\"}", u"\u00E9", u"\u20AC"},
      // Members read before a syntax error still count.
      {R"({"a":"x","b": tru)", u"a", u"x"},
      {R"({"a":"x")", u"a", u"x"},
      // A skipped member between two written ones adds no mark of its own.
      {R"({"a":1,"b":{},"c":[],"d":2})", text(u"a") + vm + u"d", text(u"1") + vm + u"2"},
      {R"({"a":{},"b":1})", u"b", u"1"},
  };
  for (const option_case& c : cases) {
    host.calls.clear();
    body = c.body;
    EXPECT_EQ(cmd({"ECHO", "MD", "X"}), 200) << c.body;
    const text parameters = u"MD\r\nX\r\n" + c.names + u"\r\n" + c.values;
    EXPECT_EQ(host.calls, calls{ftfscmd_call(u"ECHO", parameters)}) << c.body;
  }
}

TEST_F(command_actions_test, CmdEmptyBodyEndsTheParameterTextWithCrLf) {
  EXPECT_EQ(cmd({"COPY", "SALES", "CUST", "CUST", "C1"}), 200);
  EXPECT_EQ(host.calls, calls{ftfscmd_call(u"COPY", u"CUST\r\nC1\r\n\r\n")});
}

TEST_F(command_actions_test, CmdResolvesThePathAfterTheCommandWithoutARootCheck) {
  struct path_case {
    std::vector<std::string> rest;
    text file_and_item;
  };
  const path_case cases[] = {
      {{"ECHO", "MD", "X"}, u"MD\r\nX"},
      {{"ECHO", "anything", "X"}, u"MD\r\nX"},
      {{"ECHO", "MD", "CUST", "C1"}, u"DICT CUST\r\nC1"},
      {{"ECHO", "MD", "CUST", "CUST", "C1"}, u"CUST\r\nC1"},
      {{"ECHO", "MD", "CUST", "HIST", "C1"}, u"CUST,HIST\r\nC1"},
      // Non-ASCII names go over as the 16-bit text, not byte by byte.
      {{"ECHO", "MD", "CAF\xC3\x89", "\xE2\x82\xAC"}, u"DICT CAF\u00C9\r\n\u20AC"},
  };
  body = R"({"to":"C2"})";
  for (const path_case& c : cases) {
    host.calls.clear();
    EXPECT_EQ(cmd(c.rest), 200);
    EXPECT_EQ(host.calls, calls{ftfscmd_call(u"ECHO", c.file_and_item + u"\r\nto\r\nC2")});
  }
}

TEST_F(command_actions_test, CmdCommandNameIsConvertedFromUtf8) {
  EXPECT_EQ(cmd({"\xC3\xA9T", "MD", "X"}), 200);
  EXPECT_EQ(host.calls, calls{ftfscmd_call(u"\u00E9T", u"MD\r\nX\r\n\r\n")});
}

TEST_F(command_actions_test, CmdRefusalsMakeNoHostCall) {
  struct refusal_case {
    std::vector<std::string> rest;
    std::string code;
    std::string message;
    std::string diagnostic;
  };
  const refusal_case cases[] = {
      {{}, "", "Command is missing from URL path.", "command missing for 'cmd' action"},
      {{"ECHO"}, "", "Command is missing from URL path.", "command missing for 'cmd' action"},
      {{"ECHO", "MD"}, "203", "File name or item ID missing from URL path.",
       "invalid path for cmd: ECHO/MD"},
      {{"ECHO", "MD", "A", "B", "C", "D"}, "203", "File name or item ID missing from URL path.",
       "invalid path for cmd: ECHO/MD/A/B/C/D"},
  };
  debug_level = 1;
  body = R"({"a":"x"})";
  for (const refusal_case& c : cases) {
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(cmd(c.rest), 400);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.diagnostic + "\n");
    EXPECT_EQ(reply, error_reply_text(c.message, c.code));
    EXPECT_TRUE(host.calls.empty());
  }
}

TEST_F(command_actions_test, CmdTextsThatAreNotUtf8ThrowBeforeTheHostCall) {
  body = "{\"a\":\"\xC3\"}";
  EXPECT_THROW(cmd({"ECHO", "MD", "X"}), std::range_error);
  body = "";
  EXPECT_THROW(cmd({"\x80", "MD", "X"}), std::range_error);
  EXPECT_TRUE(host.calls.empty());
}

// ---- cmd: the reply

struct answer_case {
  text answer;
  std::string json;
};

TEST_F(command_actions_test, CmdReplySplitsTheAnswerAtTheFirstCrLf) {
  const answer_case cases[] = {
      {u"1 item copied.\r\n", R"({"message":"1 item copied.","output":[""]})"},
      {text(u"ECHO\r\nA\r\nB") + vm + u"C", R"({"message":"ECHO","output":["A",["B","C"]]})"},
      {text(u"M\r\nA") + sm + u"B", R"({"message":"M","output":[[["A","B"]]]})"},
      {u"no line end", R"({"message":"no line end","output":[]})"},
      {u"", R"({"message":"","output":[]})"},
      {u"\r\n", R"({"message":"","output":[""]})"},
      {u"cr\ronly", R"({"message":"cr\ronly","output":[]})"},
      {u"\u00E9\r\n\u20AC", "{\"message\":\"\xC3\xA9\",\"output\":[\"\xE2\x82\xAC\"]}"},
  };
  for (const answer_case& c : cases) {
    fake_host fresh;
    fresh.script("call_subroutine", c.answer);
    std::string out;
    action_request r{"cmd", {"ECHO", "MD", "X"}, body, env, session, fresh};
    EXPECT_EQ(command_action(r, out), 200);
    EXPECT_EQ(out, json_reply_text(c.json)) << printable_text(c.answer);
  }
}

TEST_F(command_actions_test, CmdPassesHostErrorsThrough) {
  host.script_error("call_subroutine", _com_error(host_error_code(205), u"Unknown command"));
  EXPECT_THROW(cmd({"NOPE", "MD", "X"}), _com_error);
  EXPECT_EQ(host.calls, calls{ftfscmd_call(u"NOPE", u"MD\r\nX\r\n\r\n")});
}

// ---- call

host_call subroutine_call(text name, text args) {
  return {"call_subroutine", {name, u"", args}, {}};
}

TEST_F(command_actions_test, CallPassesArgsAsItemText) {
  body = R"({"args": ["a", ["b", "c"], [["d", "e"]]], "other": 1})";
  EXPECT_EQ(call({"ECHO"}), 200);
  EXPECT_EQ(host.calls, calls{subroutine_call(
                            u"ECHO", text(u"a\r\nb") + vm + u"c\r\nd" + sm + u"e")});
}

TEST_F(command_actions_test, CallWithoutArgsPassesTheEmptyText) {
  for (const char* without_args : {"{}", R"({"Args":["x"],"n":1})"}) {
    host.calls.clear();
    body = without_args;
    EXPECT_EQ(call({"ECHO"}), 200) << without_args;
    EXPECT_EQ(host.calls, calls{subroutine_call(u"ECHO", u"")}) << without_args;
  }
}

TEST_F(command_actions_test, CallIgnoresSegmentsAfterTheFunction) {
  body = R"({"args":["x"]})";
  EXPECT_EQ(call({"SUB.\xC3\xA9", "more", "", "segments"}), 200);
  EXPECT_EQ(host.calls, calls{subroutine_call(u"SUB.\u00E9", u"x")});
}

TEST_F(command_actions_test, CallRefusalsMakeNoHostCall) {
  struct refusal_case {
    std::vector<std::string> rest;
    std::string body;
    std::string message;
    std::string diagnostic;
  };
  const refusal_case cases[] = {
      {{}, R"({"args":[]})", "Function is missing from URL path.",
       "function missing for 'call' action"},
      {{"ECHO"}, "", "Malformed JSON payload.", "invalid JSON payload for 'call"},
      {{"ECHO"}, R"(["args"])", "Malformed JSON payload.", "invalid JSON payload for 'call"},
      {{"ECHO"}, R"({"args":["a"])", "Malformed JSON payload.", "invalid JSON payload for 'call"},
      {{"ECHO"}, R"({"args":"a"})", "'args' property must be a JSON array.",
       "'args' property must be a JSON array for 'call'"},
      {{"ECHO"}, R"({"args":{"a":[]}})", "'args' property must be a JSON array.",
       "'args' property must be a JSON array for 'call'"},
      {{"ECHO"}, R"({"args":7})", "'args' property must be a JSON array.",
       "'args' property must be a JSON array for 'call'"},
      {{"ECHO"}, R"({"args":[[[["deep"]]]]})", "Malformed JSON array in 'args' property.",
       "invalid JSON array format for 'call'"},
  };
  debug_level = 1;
  for (const refusal_case& c : cases) {
    body = c.body;
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(call(c.rest), 400) << c.body;
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.diagnostic + "\n") << c.body;
    EXPECT_EQ(reply, error_reply_text(c.message, "")) << c.body;
    EXPECT_TRUE(host.calls.empty()) << c.body;
  }
}

TEST_F(command_actions_test, CallResultIsAStringUnlessItHasMarks) {
  const answer_case cases[] = {
      {u"plain", R"({"result":"plain"})"},
      {u"", R"({"result":""})"},
      {u"cr\ronly\n", R"({"result":"cr\ronly\n"})"},
      {u"\u00E9", "{\"result\":\"\xC3\xA9\"}"},
      {u"a\r\nb", R"({"result":["a","b"]})"},
      {text(u"a") + vm + u"b", R"({"result":[["a","b"]]})"},
      {text(u"a") + sm + u"b", R"({"result":[[["a","b"]]]})"},
      {u"one\r\n", R"({"result":["one"]})"},
  };
  body = "{}";
  for (const answer_case& c : cases) {
    fake_host fresh;
    fresh.script("call_subroutine", c.answer);
    std::string out;
    action_request r{"call", {"ECHO"}, body, env, session, fresh};
    EXPECT_EQ(call_action(r, out), 200);
    EXPECT_EQ(out, json_reply_text(c.json)) << printable_text(c.answer);
  }
}

TEST_F(command_actions_test, CallPassesHostErrorsThrough) {
  body = "{}";
  host.script_error("call_subroutine", _com_error(host_error_code(205), u"Unknown subroutine"));
  EXPECT_THROW(call({"NOPE"}), _com_error);
  EXPECT_EQ(host.calls, calls{subroutine_call(u"NOPE", u"")});
}

}  // namespace
}  // namespace ombrix
