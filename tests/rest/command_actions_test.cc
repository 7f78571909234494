#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "rest/environment.h"
#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

const kelm_info session{"SALES**test", "SALES", "MD"};

host_call ftfscmd_call(text command, text parameters) {
  return {"call_subroutine", {u"FTFSCMD", std::move(command), std::move(parameters)}, {}};
}
host_call subroutine_call(text name, text args) {
  return {"call_subroutine", {std::move(name), u"", std::move(args)}, {}};
}

const std::string empty_cmd_reply = json_reply(R"({"message":"","output":[]})");
const std::string empty_call_reply = json_reply(R"({"result":""})");

// The parameter text is file, item, member names, member values; one line each.
TEST(command_actions_test, CmdOptionLinesFollowTheMemberTableOrder) {
  struct option_case {
    std::string body;
    text names;   // line 3
    text values;  // line 4
  };
  const option_case cases[] = {
      // a string, b array, c number: one mark only, between a and c.
      {R"({"a":"x","b":[1,2],"c":5})", text(u"a") + vm + u"c", text(u"x") + vm + u"5"},
      // A skipped member at the end leaves a trailing mark on both lines.
      {R"({"a":"x","z":{"k":1}})", text(u"a") + vm, text(u"x") + vm},
      {R"({"t":true,"f":false,"n":null})", text(u"f") + vm + u"n" + vm + u"t",
       text(u"0") + vm + vm + u"1"},
      {"[1,2]", u"", u""},
      // Members come in name order, not text order.
      {R"({"i":-42,"j":9223372036854775807})", text(u"i") + vm + u"j",
       text(u"-42") + vm + u"9223372036854775807"},
      {R"({"r":3.14159265})", u"r", u"3.14159"},
      // Members read before a syntax error still count.
      {R"({"a":"x","b": tru)", u"a", u"x"},
      // A skipped member between two written ones adds no mark of its own.
      {R"({"a":1,"b":{},"c":[],"d":2})", text(u"a") + vm + u"d", text(u"1") + vm + u"2"},
      {R"({"a":{},"b":1})", u"b", u"1"},
  };
  for (const option_case& c : cases) {
    check_action({c.body, command_action, "cmd", {"ECHO", "MD", "X"}, c.body, {}, 200,
                  empty_cmd_reply,
                  {ftfscmd_call(u"ECHO", u"MD\r\nX\r\n" + c.names + u"\r\n" + c.values)}},
                 session);
  }
}

// The path after the command resolves without a root check; names go over as 16-bit text.
TEST(command_actions_test, CmdAndCallPassTheirTextsByteForByte) {
  const std::string to = R"({"to":"C2"})";
  const std::string args = R"({"args":["x"]})";
  check_actions(
      {
          {"EmptyBodyEndsWithCrLf", command_action, "cmd", {"COPY", "SALES", "CUST", "CUST", "C1"},
           "", {}, 200, empty_cmd_reply, {ftfscmd_call(u"COPY", u"CUST\r\nC1\r\n\r\n")}},
          {"AnyRoot", command_action, "cmd", {"ECHO", "anything", "X"}, to, {}, 200,
           empty_cmd_reply, {ftfscmd_call(u"ECHO", u"MD\r\nX\r\nto\r\nC2")}},
          {"Dict", command_action, "cmd", {"ECHO", "MD", "CUST", "C1"}, to, {}, 200,
           empty_cmd_reply, {ftfscmd_call(u"ECHO", u"DICT CUST\r\nC1\r\nto\r\nC2")}},
          {"Section", command_action, "cmd", {"ECHO", "MD", "CUST", "HIST", "C1"}, to, {}, 200,
           empty_cmd_reply, {ftfscmd_call(u"ECHO", u"CUST,HIST\r\nC1\r\nto\r\nC2")}},
          {"NonAsciiCommand", command_action, "cmd", {"\xC3\xA9T", "MD", "X"}, "", {}, 200,
           empty_cmd_reply, {ftfscmd_call(u"\u00E9T", u"MD\r\nX\r\n\r\n")}},
          {"CallArgsAsItemText", call_action, "call", {"ECHO"},
           R"({"args": ["a", ["b", "c"], [["d", "e"]]], "other": 1})", {}, 200, empty_call_reply,
           {subroutine_call(u"ECHO", text(u"a\r\nb") + vm + u"c\r\nd" + sm + u"e")}},
          {"CallOtherCaseArgs", call_action, "call", {"ECHO"}, R"({"Args":["x"],"n":1})", {}, 200,
           empty_call_reply, {subroutine_call(u"ECHO", u"")}},
          {"CallIgnoresLaterSegments", call_action, "call",
           {"SUB.\xC3\xA9", "more", "", "segments"},
           args, {}, 200, empty_call_reply, {subroutine_call(u"SUB.\u00E9", u"x")}},
      },
      session);
}

TEST(command_actions_test, RefusalsMakeNoHostCall) {
  const std::string no_command = error_reply(400, "Command is missing from URL path.", "");
  const std::string malformed = error_reply(400, "Malformed JSON payload.", "");
  const std::string a = R"({"a":"x"})";
  check_actions(
      {
          {"CmdNothing", command_action, "cmd", {}, a, {}, 400, no_command, {},
           "command missing for 'cmd' action\n"},
          {"CallNothing", call_action, "call", {}, R"({"args":[]})", {}, 400,
           error_reply(400, "Function is missing from URL path.", ""), {},
           "function missing for 'call' action\n"},
          {"CallEmptyBody", call_action, "call", {"ECHO"}, "", {}, 400, malformed, {},
           "invalid JSON payload for 'call\n"},
          {"CallTooDeep", call_action, "call", {"ECHO"}, R"({"args":[[[["deep"]]]]})", {}, 400,
           error_reply(400, "Malformed JSON array in 'args' property.", ""), {},
           "invalid JSON array format for 'call'\n"},
          {"CallArgsWithANumberAreRefused", call_action, "call", {"ECHO"},
           R"({"args":["a",1,null]})", {}, 400,
           error_reply(400, "Malformed JSON array in 'args' property.", ""), {},
           "invalid JSON array format for 'call'\n"},
      },
      session);
}

TEST(command_actions_test, ThrowsOnTextsThatAreNotUtf8AndPassesHostErrorsThrough) {
  const settings config;
  item_lock_table locks;
  fake_host host;
  std::string reply;
  EXPECT_THROW(command_action({"cmd", {"ECHO", "MD", "X"}, "{\"a\":\"\xC3\"}", {}, session, host, locks, config},
                              reply),
               std::range_error);
  EXPECT_THROW(command_action({"cmd", {"\x80", "MD", "X"}, "", {}, session, host, locks, config}, reply),
               std::range_error);
  EXPECT_TRUE(host.calls.empty());
  host.script_error("call_subroutine", _com_error(host_error_code(205), u"Unknown command"));
  host.script_error("call_subroutine", _com_error(host_error_code(205), u"Unknown subroutine"));
  EXPECT_THROW(command_action({"cmd", {"NOPE", "MD", "X"}, "", {}, session, host, locks, config}, reply),
               _com_error);
  EXPECT_THROW(call_action({"call", {"NOPE"}, "{}", {}, session, host, locks, config}, reply), _com_error);
  EXPECT_EQ(host.calls, (calls{ftfscmd_call(u"NOPE", u"MD\r\nX\r\n\r\n"),
                               subroutine_call(u"NOPE", u"")}));
}

// cmd splits the answer at the first CR LF; call answers a string unless the answer has marks.
TEST(command_actions_test, RepliesShapeTheHostsAnswer) {
  struct answer_case {
    action_fn action;
    text answer;
    std::string json;
  };
  const answer_case cases[] = {
      {command_action, u"1 item copied.\r\n", R"({"message":"1 item copied.","output":[""]})"},
      {command_action, text(u"ECHO\r\nA\r\nB") + vm + u"C",
       R"({"message":"ECHO","output":["A",["B","C"]]})"},
      {command_action, u"no line end", R"({"message":"no line end","output":[]})"},
      {command_action, u"\r\n", R"({"message":"","output":[""]})"},
      {call_action, u"plain", R"({"result":"plain"})"},
      {call_action, u"cr\ronly\n", R"({"result":"cr\ronly\n"})"},
      {call_action, u"a\r\nb", R"({"result":["a","b"]})"},
      {call_action, text(u"a") + vm + u"b", R"({"result":[["a","b"]]})"},
  };
  for (const answer_case& c : cases) {
    const bool is_cmd = c.action == command_action;
    check_action({test::hex_units(c.answer), c.action, is_cmd ? "cmd" : "call",
                  is_cmd ? std::vector<std::string>{"ECHO", "MD", "X"}
                         : std::vector<std::string>{"ECHO"},
                  "{}", {}, 200, json_reply(c.json),
                  {is_cmd ? ftfscmd_call(u"ECHO", u"MD\r\nX\r\n\r\n")
                          : subroutine_call(u"ECHO", u"")},
                  std::nullopt, {{"call_subroutine", c.answer}}},
                 session);
  }
}

// A host that receives lines 1 and 2 in a form of its own, as the COM bindings do (code-page
// units), and cannot receive names holding U+0416.
class narrowing_host final : public fake_host {
 public:
  std::optional<text> command_parameter_name(const text& name) const override {
    if (name.find(u'\u0416') != text::npos) return std::nullopt;
    return u"<" + name + u">";
  }
};

TEST(command_actions_test, CmdSendsTheNamesInTheHostsFormOrRefusesThemWithoutACall) {
  const std::string refused = error_reply(
      400, "File name or item ID cannot be represented in the host's code page.", "");
  struct name_case {
    std::vector<std::string> rest;
    int status;
    std::string reply;
    calls made;
    std::string diagnostic;
  };
  const name_case cases[] = {
      {{"COPY", "MD", "CUST", "CUST", "\xE2\x82\xAC"}, 200, empty_cmd_reply,
       {ftfscmd_call(u"COPY", u"<CUST>\r\n<\u20AC>\r\nto\r\n\u0416")}, ""},
      {{"COPY", "MD", "CUST", "CUST", "X\xD0\x96"}, 400, refused, {},
       "cmd path not representable in the host's code page: COPY/MD/CUST/CUST/X\xD0\x96\n"},
      {{"COPY", "MD", "\xD0\x96", "\xD0\x96", "C1"}, 400, refused, {},
       "cmd path not representable in the host's code page: "
       "COPY/MD/\xD0\x96/\xD0\x96/C1\n"},
  };
  for (const name_case& c : cases) {
    SCOPED_TRACE(join(c.rest, "/"));
    const settings config{.debug_level = 1};
    item_lock_table locks;
    narrowing_host host;
    std::string reply;
    int status = 0;
    // Lines 3 and 4 are the body's, converted from UTF-8 as always.
    const action_request request{"cmd", c.rest, "{\"to\":\"\xD0\x96\"}", {}, session, host, locks, config};
    EXPECT_EQ(stderr_of([&] { status = command_action(request, reply); }), c.diagnostic);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(reply, c.reply);
    EXPECT_EQ(host.calls, c.made);
  }
}

}  // namespace
}  // namespace ombrix
