// Shared helpers of the REST tests: reply builders, stderr capture, a table runner for actions
// against a fresh fake host, and a recording host factory. Not thread-safe.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/settings.h"
#include "rest/actions.h"
#include "rest/session_actions.h"
#include "tests/rest/fake_host.h"

namespace ombrix {

using calls = std::vector<host_call>;
constexpr char16_t vm = value_mark;
constexpr char16_t sm = subvalue_mark;

// A JSON reply: header, `json`, CR LF.
inline std::string json_reply(std::string_view json) {
  return "Content-Type:application/json\r\n\r\n" + std::string(json) + "\r\n";
}
// An error reply; `message` is already JSON-escaped.
inline std::string error_reply(int status, std::string_view message, std::string_view code = "") {
  return "Content-Type:application/json\r\n\r\n{\"status\":" + std::to_string(status) +
         ",\"message\":\"" + std::string(message) + "\",\"code\":\"" + std::string(code) + "\"}";
}

template <typename F>
std::string stderr_of(F&& run) {
  ::testing::internal::CaptureStderr();
  std::forward<F>(run)();
  return ::testing::internal::GetCapturedStderr();
}

inline host_call read_call(text file, text item) { return {"read_item", {file, item}, {0, 0, 0, 0}}; }
inline host_call write_call(text file, text item, text c) { return {"write_item", {file, item, c}, {0, 0, 0, 0}}; }
inline host_call create_call(text file, text item, text c) { return {"create_item", {file, item, c}, {}}; }
inline host_call delete_call(text file, text item) { return {"delete_item", {file, item}, {}}; }

using action_fn = int (*)(const action_request&, std::string&);

// One action call and everything it must produce.
struct action_case {
  std::string label;
  action_fn action;
  std::string name;  // the action name of the path
  std::vector<std::string> rest;
  std::string body;
  environment env;
  int status;
  std::string reply;  // exact bytes
  calls made;         // exact host calls in order
  std::optional<std::string> diagnostic = std::nullopt;    // stderr at debug level 1, when given
  std::vector<std::pair<std::string, text>> answers = {};  // scripted host answers
  int version = 80;                                        // host generation
  bool ignore_case = false;                                // the -c setting
};

inline void check_action(const action_case& c, const kelm_info& session) {
  SCOPED_TRACE(c.label);
  const settings config{.debug_level = 1, .host_version = c.version, .case_insensitive = c.ignore_case};
  item_lock_table locks;
  fake_host host;
  for (const auto& [operation, answer] : c.answers) host.script(operation, answer);
  std::string reply = "stale";
  const action_request request{c.name, c.rest, c.body, c.env, session, host, locks, config};
  int status = 0;
  const std::string diagnostics = stderr_of([&] { status = c.action(request, reply); });
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(reply, c.reply);
  EXPECT_EQ(host.calls, c.made);
  EXPECT_EQ(diagnostics, c.diagnostic.value_or(diagnostics));
}

inline void check_actions(const std::vector<action_case>& cases, const kelm_info& session) {
  for (const action_case& c : cases) check_action(c, session);
}

// Hands out one fake_host per call, answering the login's name queries, and records the server
// texts it was given; or throws, or yields no object.
struct recording_factory {
  std::vector<std::string> server_texts;
  std::vector<std::shared_ptr<fake_host>> hosts;
  std::function<void()> failure;  // run before a host is made; throws, when set
  std::string failing_operation;  // this host operation throws E_FAIL instead of answering
  bool yields_no_host = false;
  text server_name = u"SRV", md_name = u"MD";
  std::function<void(fake_host&)> prepare;  // more scripting, when set

  host_factory function() {
    return [this](const std::string& server_text) -> std::shared_ptr<velquor_base> {
      server_texts.push_back(server_text);
      if (failure) failure();
      if (yields_no_host) return nullptr;
      auto host = std::make_shared<fake_host>();
      const std::pair<const char*, text> answers[] = {{"get_server_name", server_name},
          {"get_property_3", u"SALES"}, {"get_property_5", md_name}, {"quit", {}}};
      for (const auto& [operation, answer] : answers) {
        if (operation == failing_operation) host->script_error(operation, _com_error(e_fail));
        else host->script(operation, answer);
      }
      if (prepare) prepare(*host);
      hosts.push_back(host);
      return host;
    };
  }
};

}  // namespace ombrix
