#include "rest/dispatcher.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "host/com_error.h"
#include "rest/access_token.h"
#include "rest/session_table.h"
#include "base/settings.h"
#include "rest/item_locks.h"
#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

std::string request_environment(std::string_view method, std::optional<std::string> path,
                                 std::string_view authorization = {}) {
  std::string env = "REMOTE_ADDR=127.0.0.1\r\nREMOTE_HOST=127.0.0.1\r\nREQUEST_METHOD=";
  env.append(method).append("\r\n");
  if (path) env.append("PATH_INFO=").append(*path).append("\r\n");
  env.append("SERVER_PORT=3181\r\n");
  if (!authorization.empty()) env.append("HTTP_AUTHORIZATION=").append(authorization).append("\r\n");
  return env;
}

std::string bearer(std::string_view session_id) {
  return "Bearer " + make_access_token(session_id);
}

// The token inside a login reply.
std::string token_of(const std::string& login_reply) {
  const std::string marker = "\"access_token\":\"";
  std::size_t start = login_reply.find(marker);
  if (start == std::string::npos) return {};
  start += marker.size();
  return login_reply.substr(start, login_reply.find('"', start) - start);
}

// A session table with session 1a and a recording host factory; one per case.
struct bench {
  bench() {
    sessions_.add_session("1a", std::make_shared<const kelm_info>(kelm_info{"SRV**", "SALES", "MD"}));
  }

  int dispatch(std::string_view method, std::optional<std::string> path,
               std::string_view authorization = {}, const std::string& body = {},
               std::int32_t connection = 99) {
    reply_ = "not yet";
    return dispatch_rest_request(connection, request_environment(method, path, authorization),
                                 body, reply_, context());
  }
  rest_context context() {
    return rest_context{config_, sessions_, locks_, make_host_, server_running_};
  }

  settings config_;
  std::atomic<bool> server_running_{true};
  item_lock_table locks_;
  session_table sessions_;
  recording_factory factory_;
  host_factory make_host_ = factory_.function();
  std::string reply_;
};

class dispatcher_test : public ::testing::Test, public bench {};

enum class token { none, valid, unknown_session, lower_case_bearer };

struct route_case {
  std::string name;
  std::string method;
  std::optional<std::string> path;
  token authorization;
  int status;
  std::string message_json;
  bool reaches_session = false;  // the session check passed and a host object was made
};

void check_route(const route_case& c) {
  SCOPED_TRACE(c.name);
  bench b;
  auto& factory_ = b.factory_;
  auto& sessions_ = b.sessions_;
  std::string authorization;
  switch (c.authorization) {
    case token::none: break;
    case token::valid: authorization = bearer("1a"); break;
    case token::unknown_session: authorization = bearer("ff"); break;
    case token::lower_case_bearer: authorization = "b" + bearer("1a").substr(1); break;
  }
  // What the head alone decides is exactly the dispatcher's own reply; the rest needs the body.
  std::string early;
  const int decided =
      reply_decided_by_head(request_environment(c.method, c.path, authorization), early, b.context());
  const bool head_decides = !c.reaches_session && c.status != 500;
  EXPECT_EQ(decided, head_decides ? c.status : 0);
  EXPECT_EQ(early, head_decides ? error_reply(c.status, c.message_json, "") : "");
  EXPECT_EQ(b.dispatch(c.method, c.path, authorization), c.status);
  EXPECT_EQ(b.reply_, error_reply(c.status, c.message_json, ""));
  if (c.reaches_session) {
    EXPECT_EQ(factory_.server_texts, std::vector<std::string>{"SRV**"});
    ASSERT_EQ(factory_.hosts.size(), 1u);
    EXPECT_TRUE(factory_.hosts[0]->calls.empty());
  } else {
    EXPECT_TRUE(factory_.server_texts.empty());
  }
  // Only an unknown session is removed, and the known one stays.
  EXPECT_NE(sessions_.find_session("1a"), nullptr);
}

const char too_short[] = "URL path too short. Path must begin with /quelm/restfs";
const char wrong_prefix[] = "URL path must begin with /quelm/restfs";
const char no_token[] = "Authorization token must be included in the Authorization header.";
const char no_session[] = "Session for authorization token not found (new login required).";

// The refusal of a method and action pair the dispatcher does not know (`action` JSON-escaped).
std::string invalid(std::string_view method, std::string_view action) {
  std::string message = "Invalid method '";
  return message.append(method).append("' or action '").append(action).append("' in request.");
}

TEST(dispatcher_table_test, AnswersEachPathWithTheExactReply) {
  for (const route_case& c : std::vector<route_case>{
        {"PrefixOnly", "GET", "/quelm/restfs", token::valid, 400, too_short},
        {"NoPathInfo", "GET", std::nullopt, token::valid, 400, too_short},
        {"TooShortBeforeTokenCheck", "GET", "/quelm/restfs", token::none, 400, too_short},
        {"CapitalQuelm", "GET", "/Quelm/restfs/file/x", token::valid, 400, wrong_prefix},
        {"WrongPrefixBeforeTokenCheck", "POST", "/rest/restfs/login", token::none,
            400, wrong_prefix},
        {"NoLeadingSlash", "GET", "quelm/restfs/x", token::valid, 400, invalid("GET", "x"), true},
        {"LowerCaseMethod", "get", "/quelm/restfs/file/MD/X", token::valid, 400,
            invalid("get", "file"), true},
        {"LoginByGet", "GET", "/quelm/restfs/login", token::valid, 400,
            invalid("GET", "login"), true},
        {"EncodedSlashesSplit", "GET", "/quelm%2Frestfs%2fnothing", token::valid, 400,
            invalid("GET", "nothing"), true},
        {"QuoteInActionIsEscaped", "GET", "/quelm/restfs/a%22b", token::valid, 400,
            invalid("GET", "a\\\"b"), true},
        {"UnknownActionWithoutToken", "GET", "/quelm/restfs/nothing", token::none, 401, no_token},
        {"LoginByGetWithoutToken", "GET", "/quelm/restfs/login", token::none, 401, no_token},
        {"LowerCaseBearer", "GET", "/quelm/restfs/file/MD/X",
            token::lower_case_bearer, 401, no_token},
        {"UnknownSessionBeforeTheAction", "get", "/quelm/restfs/nothing",
            token::unknown_session, 401, no_session},
        {"RejectedEscape", "GET", "/quelm/restfs/%zz", token::valid, 500, "Unexpected exception"}}) {
    check_route(c);
  }
}

TEST_F(dispatcher_test, NoHostObjectEndsTheSession) {
  factory_.yields_no_host = true;
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/file/MD/X", bearer("1a")), 401);
  EXPECT_EQ(reply_, error_reply(401, no_session, ""));
  EXPECT_EQ(factory_.server_texts, std::vector<std::string>{"SRV**"});
  EXPECT_EQ(sessions_.find_session("1a"), nullptr);
}

struct com_error_case {
  std::string name;
  std::function<void()> failure;  // thrown while the host object is made
  int status;
  std::string reply_code;
  std::string message_json;
};

std::function<void()> com(std::uint32_t code, text description) {
  return [=] { throw _com_error(static_cast<hresult>(code), description); };
}

TEST(dispatcher_table_test, MapsTheHostErrorToStatusAndCode) {
  for (const com_error_case& c : std::vector<com_error_case>{
        {"NotFound201", com(0x800400C9, u"Item not found"), 404, "201", "Item not found"},
        {"NotFound203", com(0x800400CB, u""), 404, "203", ""},
        {"Host199", com(0x800400C7, u"below"), 500, "199", "below"},
        {"Host204", com(0x800400CC, u"Item locked"), 500, "204", "Item locked"},
        {"HostLargest", com(0x8004FFFF, u""), 500, "65535", ""},
        {"OtherFacility", com(0x80050001, u""), 500, "80050001", ""},
        {"DescriptionIsUtf8AndEscaped", com(0x800400C9, u"caf\u00e9 \"x\"\n\U0001F600"), 404,
            "201", "caf\xC3\xA9 \\\"x\\\"\\n\xF0\x9F\x98\x80"},
        {"RuntimeError", [] { throw std::runtime_error("boom"); }, 500, "", "Unexpected exception"},
        {"Int", [] { throw 42; }, 500, "", "Unexpected exception"}}) {
    SCOPED_TRACE(c.name);
    bench b;
    b.factory_.failure = c.failure;
    EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/file/MD/X", bearer("1a")), c.status);
    EXPECT_EQ(b.reply_, error_reply(c.status, c.message_json, c.reply_code));
    EXPECT_NE(b.sessions_.find_session("1a"), nullptr);  // a failure does not end the session
  }
}

TEST_F(dispatcher_test, ActionConversionFailureIsUnexpected) {
  // %C3 alone is not UTF-8: the item id cannot be handed to the host.
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/file/MD/%C3", bearer("1a")), 500);
  EXPECT_EQ(reply_, error_reply(500, "Unexpected exception", ""));
  ASSERT_EQ(factory_.hosts.size(), 1u);
  EXPECT_TRUE(factory_.hosts[0]->calls.empty());
}

TEST_F(dispatcher_test, ActionGetsTheSessionTheRestAndTheHost) {
  factory_.prepare = [](fake_host& host) { host.script("read_item", u"A"); };
  // The account name as root: the item lives in the master dictionary the session names.
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/file/SALES/X%20Y", bearer("1a")), 200);
  ASSERT_EQ(factory_.hosts.size(), 1u);
  const std::vector<host_call> expected{{"read_item", {u"MD", u"X Y"}, {0, 0, 0, 0}}};
  EXPECT_EQ(factory_.hosts[0]->calls, expected);
  EXPECT_EQ(reply_, json_reply(R"({"id":"X Y","type":"array","data":["A"]})"));
}

struct handler_case {
  std::string method;
  std::string action;
  std::string diagnostic;
  std::string code;
  std::string message;
};

const char name_missing[] = "File name missing from URL path.";

// Without path segments each action refuses at once with its own diagnostic line, which tells
// which handler the dispatcher picked.
TEST(dispatcher_table_test, PicksTheHandlerByMethodAndAction) {
  for (const handler_case& c : std::vector<handler_case>{
        {"GET", "file", "file name missing for read: ", "200", name_missing},
        {"PUT", "file", "file name missing for update/create: ", "200", name_missing},
        {"DELETE", "file", "invalid path for delete: ", "200", name_missing},
        {"GET", "dir", "invalid path for dir: ", "200", name_missing},
        {"GET", "stat", "file name missing for stat: ", "200", name_missing},
        {"GET", "rename", "invalid path for rename: ", "200",
            "Old file name missing from URL path."},
        {"POST", "cmd", "command missing for 'cmd' action", "",
            "Command is missing from URL path."},
        {"POST", "call", "function missing for 'call' action", "",
            "Function is missing from URL path."}}) {
    SCOPED_TRACE(c.method + " " + c.action);
    bench b;
    b.config_.debug_level = 1;
    int status = 0;
    const std::string diagnostics =
        stderr_of([&] { status = b.dispatch(c.method, "/quelm/restfs/" + c.action, bearer("1a")); });
    EXPECT_EQ(status, 400);
    EXPECT_EQ(b.reply_, error_reply(400, c.message, c.code));
    EXPECT_EQ(diagnostics, c.diagnostic + "\n");
    ASSERT_EQ(b.factory_.hosts.size(), 1u);
    EXPECT_TRUE(b.factory_.hosts[0]->calls.empty());
  }
}

struct debug_case {
  std::string name;
  std::string method;
  std::string path;
  std::string authorization;
  std::function<void()> failure;
  std::string diagnostic;
};

TEST(dispatcher_table_test, WritesTheDiagnosticAtLevelOneOnly) {
  for (const debug_case& c : std::vector<debug_case>{
        {"InvalidMethod", "get", "/quelm/restfs/file/MD/X", bearer("1a"), nullptr,
            "invalid method 'get' or action 'file'\n"},
        {"SessionNotFound", "GET", "/quelm/restfs/file/MD/X", bearer("ff"), nullptr,
            "session 'ff' not found for 'file' action: MD/X\n"},
        {"ComError", "GET", "/quelm/restfs/file/MD/X", bearer("1a"),
            [] { throw _com_error(host_error_code(201), u"Item not found"); },
            "COM error: Item not found [0x800400c9]\n"},
        {"NoLineForOtherFailures", "GET", "/quelm/restfs/%zz", bearer("1a"), nullptr, ""}}) {
    for (int level : {0, 1}) {
      SCOPED_TRACE(c.name + std::to_string(level));
      bench b;
      b.factory_.failure = c.failure;
      b.config_.debug_level = level;
      EXPECT_EQ(stderr_of([&] { b.dispatch(c.method, c.path, c.authorization); }),
                level == 0 ? "" : c.diagnostic);
    }
  }
}

TEST_F(dispatcher_test, TwoSessionsWorkIndependentlyAndLogoutEndsOne) {
  ASSERT_EQ(dispatch("POST", "/quelm/restfs/login", "", R"({"Client":"a"})", 48), 200);
  const std::string first = "Bearer " + token_of(reply_);
  ASSERT_EQ(dispatch("POST", "/quelm/restfs/login", "", R"({"Client":"b"})", 49), 200);
  const std::string second = "Bearer " + token_of(reply_);
  ASSERT_NE(first, second);
  EXPECT_EQ(sessions_.session_count(), 3u);

  // An unknown action after the session check shows that the session was found.
  const std::string found = error_reply(400, invalid("GET", "ping"), "");
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/ping", first), 400);
  EXPECT_EQ(reply_, found);
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/ping", second), 400);
  EXPECT_EQ(reply_, found);
  EXPECT_EQ(factory_.server_texts,
            (std::vector<std::string>{"**a", "**b", "SRV**a", "SRV**b"}));

  EXPECT_EQ(dispatch("GET", "/quelm/restfs/logout", first), 200);
  EXPECT_EQ(reply_, "");
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/ping", first), 401);
  EXPECT_EQ(reply_, error_reply(401, no_session, ""));
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/ping", second), 400);
  EXPECT_EQ(reply_, found);
  // Logout without -a never contacts the host.
  EXPECT_EQ(factory_.server_texts.size(), 5u);
  EXPECT_TRUE(server_running_);
}

TEST_F(dispatcher_test, LogoutWithoutTokenSucceedsAndStopsNothing) {
  config_.exit_on_logout = true;
  for (const std::string& authorization : {std::string(), "b" + bearer("1a").substr(1)}) {
    EXPECT_EQ(dispatch("GET", "/quelm/restfs/logout", authorization), 200);
    EXPECT_EQ(reply_, "");
  }
  EXPECT_TRUE(server_running_);
  EXPECT_EQ(sessions_.session_count(), 1u);
  EXPECT_TRUE(factory_.server_texts.empty());
}

TEST_F(dispatcher_test, ExitOnLogoutStopsOnlyWhenTheLastSessionEnds) {
  config_.exit_on_logout = true;
  ASSERT_EQ(dispatch("POST", "/quelm/restfs/login", "", R"({"Client":"b"})", 27), 200);
  const std::string second = "Bearer " + token_of(reply_);

  EXPECT_EQ(dispatch("GET", "/quelm/restfs/logout", bearer("1a")), 200);
  EXPECT_TRUE(server_running_);
  EXPECT_EQ(dispatch("GET", "/quelm/restfs/logout", second), 200);
  EXPECT_FALSE(server_running_);
  EXPECT_EQ(sessions_.session_count(), 0u);

  // One host for the login, then one per logout, each told to quit.
  EXPECT_EQ(factory_.server_texts, (std::vector<std::string>{"**b", "SRV**", "SRV**b"}));
  ASSERT_EQ(factory_.hosts.size(), 3u);
  EXPECT_EQ(factory_.hosts[1]->calls, (std::vector<host_call>{host_call{"quit", {}, {}}}));
  EXPECT_EQ(factory_.hosts[2]->calls, (std::vector<host_call>{host_call{"quit", {}, {}}}));
}

}  // namespace
}  // namespace ombrix
