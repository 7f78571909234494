#include <stdexcept>

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

// The parameter text is file, item, member names, member values; one line each, the members in
// name order, members that are neither string, number nor literal skipped without a mark.
TEST(command_actions_test, CmdOptionLinesFollowTheMemberTableOrder) {
  // names, values: lines 3 and 4.
  const struct { std::string body; text names, values; } cases[] = {
      {R"({"a":"x","b":[1,2],"c":5})", text(u"a") + vm + u"c", text(u"x") + vm + u"5"},
      {R"({"a":"x","z":{"k":1}})", text(u"a") + vm, text(u"x") + vm},
      {R"({"t":true,"f":false,"n":null})", text(u"f") + vm + u"n" + vm + u"t", text(u"0") + vm + vm + u"1"},
      {R"({"j":9223372036854775807,"i":-42})", text(u"i") + vm + u"j", text(u"-42") + vm + u"9223372036854775807"},
      {R"({"r":3.14159265})", u"r", u"3.14159"},
      {R"({"a":"x","b": tru)", u"a", u"x"},  // members read before a syntax error still count
      {R"({"a":{},"b":1})", u"b", u"1"},
  };
  for (const auto& c : cases) {
    check_action({c.body, command_action, "cmd", {"ECHO", "MD", "X"}, c.body, {}, 200, empty_cmd_reply,
                  {ftfscmd_call(u"ECHO", u"MD\r\nX\r\n" + c.names + u"\r\n" + c.values)}}, session);
  }
}

// The path after the command resolves without a root check; names go over as 16-bit text.
TEST(command_actions_test, CmdAndCallPassTheirTextsAndRefuseWithoutAHostCall) {
  const std::string to = R"({"to":"C2"})";
  const std::string bad_args = error_reply(400, "Malformed JSON array in 'args' property.");
  check_actions({
      {"EmptyBody", command_action, "cmd", {"COPY", "SALES", "CUST", "CUST", "C1"}, "", {}, 200,
       empty_cmd_reply, {ftfscmd_call(u"COPY", u"CUST\r\nC1\r\n\r\n")}},
      {"Dict", command_action, "cmd", {"ECHO", "MD", "CUST", "C1"}, to, {}, 200, empty_cmd_reply,
       {ftfscmd_call(u"ECHO", u"DICT CUST\r\nC1\r\nto\r\nC2")}},
      {"CallArgs", call_action, "call", {"ECHO"}, R"({"args": ["a", ["b", "c"], [["d", "e"]]], "o": 1})", {},
       200, empty_call_reply, {subroutine_call(u"ECHO", text(u"a\r\nb") + vm + u"c\r\nd" + sm + u"e")}},
      {"CallOtherCaseArgs", call_action, "call", {"ECHO"}, R"({"Args":["x"],"n":1})", {}, 200,
       empty_call_reply, {subroutine_call(u"ECHO", u"")}},
      {"CallIgnoresLaterSegments", call_action, "call", {"SUB.\xC3\xA9", "more", "", "x"},
       R"({"args":["x"]})", {}, 200, empty_call_reply, {subroutine_call(u"SUB.\u00E9", u"x")}},
      {"CmdNothing", command_action, "cmd", {}, to, {}, 400, error_reply(400, "Command is missing from URL path."),
       {}, "command missing for 'cmd' action\n"},
      {"CallEmptyBody", call_action, "call", {"ECHO"}, "", {}, 400, error_reply(400, "Malformed JSON payload."),
       {}, "invalid JSON payload for 'call\n"},
      {"CallNumberArg", call_action, "call", {"ECHO"}, R"({"args":["a",1,null]})", {}, 400, bad_args, {},
       "invalid JSON array format for 'call'\n"},
  }, session);
}

// cmd splits the answer at the first CR LF; call answers a string unless the answer has marks.
TEST(command_actions_test, RepliesShapeTheHostsAnswer) {
  const struct { action_fn action; text answer; std::string json; } cases[] = {
      {command_action, text(u"ECHO\r\nA\r\nB") + vm + u"C", R"({"message":"ECHO","output":["A",["B","C"]]})"},
      {command_action, u"no line end", R"({"message":"no line end","output":[]})"},
      {call_action, u"a\r\nb", R"({"result":["a","b"]})"},
      {call_action, text(u"a") + vm + u"b", R"({"result":[["a","b"]]})"},
  };
  for (const auto& c : cases) {
    const bool is_cmd = c.action == command_action;
    check_action({test::hex_units(c.answer), c.action, is_cmd ? "cmd" : "call",
                  is_cmd ? std::vector<std::string>{"ECHO", "MD", "X"} : std::vector<std::string>{"ECHO"},
                  "{}", {}, 200, json_reply(c.json),
                  {is_cmd ? ftfscmd_call(u"ECHO", u"MD\r\nX\r\n\r\n") : subroutine_call(u"ECHO", u"")},
                  std::nullopt, {{"call_subroutine", c.answer}}}, session);
  }
}

}  // namespace
}  // namespace ombrix
