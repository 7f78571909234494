#include "rest/dispatcher.h"

#include <atomic>
#include <stdexcept>

#include "rest/access_token.h"
#include "rest/session_table.h"
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

std::string bearer(std::string_view session_id) { return "Bearer " + make_access_token(session_id); }

// A session table with session 1a and a recording host factory; one per case.
struct bench {
  bench() { sessions_.add_session("1a", std::make_shared<const kelm_info>(kelm_info{"SRV**", "SALES", "MD"})); }

  int dispatch(std::string_view method, std::optional<std::string> path,
               std::string_view authorization = {}, const std::string& body = {},
               std::int32_t connection = 99) {
    reply_ = "not yet";
    return dispatch_rest_request(connection, request_environment(method, path, authorization),
                                 body, reply_, context());
  }
  rest_context context() { return rest_context{config_, sessions_, locks_, make_host_, server_running_}; }
  // Logs in through the dispatcher and returns the Authorization value of the new session.
  std::string login(std::string_view client, std::int32_t connection) {
    EXPECT_EQ(dispatch("POST", "/quelm/restfs/login", "", R"({"Client":")" + std::string(client) + "\"}",
                       connection), 200);
    const std::string marker = "\"access_token\":\"";
    const std::size_t start = reply_.find(marker) + marker.size();
    return "Bearer " + reply_.substr(start, reply_.find('"', start) - start);
  }

  settings config_;
  std::atomic<bool> server_running_{true};
  item_lock_table locks_;
  session_table sessions_;
  recording_factory factory_;
  host_factory make_host_ = factory_.function();
  std::string reply_;
};

enum class token { none, valid, unknown_session, lower_case_bearer };

const char too_short[] = "URL path too short. Path must begin with /quelm/restfs";
const char wrong_prefix[] = "URL path must begin with /quelm/restfs";
const char no_token[] = "Authorization token must be included in the Authorization header.";
const char no_session[] = "Session for authorization token not found (new login required).";

// The refusal of a method and action pair the dispatcher does not know (`action` JSON-escaped).
std::string invalid(std::string_view method, std::string_view action) {
  return "Invalid method '" + std::string(method) + "' or action '" + std::string(action) + "' in request.";
}

TEST(dispatcher_test, AnswersEachPathWithTheExactReply) {
  const struct {
    std::string method;
    std::optional<std::string> path;
    token authorization;
    int status;
    std::string message_json;
    bool reaches_session;    // the session check passed and a host object was made
    std::string diagnostic = "";  // written at debug level 1, when not empty; never at level 0
  } cases[] = {
      {"GET", "/quelm/restfs", token::valid, 400, too_short, false},
      {"GET", std::nullopt, token::valid, 400, too_short, false},
      {"GET", "/Quelm/restfs/file/x", token::valid, 400, wrong_prefix, false},
      {"GET", "quelm/restfs/x", token::valid, 400, invalid("GET", "x"), true},
      {"get", "/quelm/restfs/file/MD/X", token::valid, 400, invalid("get", "file"), true,
       "invalid method 'get' or action 'file'\n"},
      {"GET", "/quelm%2Frestfs%2fnothing", token::valid, 400, invalid("GET", "nothing"), true},
      {"GET", "/quelm/restfs/a%22b", token::valid, 400, invalid("GET", "a\\\"b"), true},
      {"GET", "/quelm/restfs/nothing", token::none, 401, no_token, false},
      {"GET", "/quelm/restfs/file/MD/X", token::lower_case_bearer, 401, no_token, false},
      {"get", "/quelm/restfs/nothing", token::unknown_session, 401, no_session, false},  // before the action
      {"GET", "/quelm/restfs/file/MD/X", token::unknown_session, 401, no_session, false,
       "session 'ff' not found for 'file' action: MD/X\n"},
      {"GET", "/quelm/restfs/%zz", token::valid, 500, "Unexpected exception", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.method + " " + c.path.value_or("(none)"));
    bench b;
    const std::string authorization[] = {"", bearer("1a"), bearer("ff"), "b" + bearer("1a").substr(1)};
    const std::string& sent = authorization[static_cast<int>(c.authorization)];
    // What the head alone decides is exactly the dispatcher's own reply; the rest needs the body.
    std::string early;
    const bool head_decides = !c.reaches_session && c.status != 500;
    EXPECT_EQ(reply_decided_by_head(request_environment(c.method, c.path, sent), early, b.context()),
              head_decides ? c.status : 0);
    EXPECT_EQ(early, head_decides ? error_reply(c.status, c.message_json) : "");
    EXPECT_EQ(stderr_of([&] { EXPECT_EQ(b.dispatch(c.method, c.path, sent), c.status); }), "");
    EXPECT_EQ(b.reply_, error_reply(c.status, c.message_json));
    EXPECT_EQ(b.factory_.server_texts, c.reaches_session ? std::vector<std::string>{"SRV**"}
                                                         : std::vector<std::string>{});
    if (c.reaches_session) {
      EXPECT_EQ(b.factory_.hosts.at(0)->calls, calls{});
    }
    EXPECT_NE(b.sessions_.find_session("1a"), nullptr);  // only an unknown session is removed
    if (c.diagnostic.empty()) continue;
    bench at_one;
    at_one.config_.debug_level = 1;
    EXPECT_EQ(stderr_of([&] { at_one.dispatch(c.method, c.path, sent); }), c.diagnostic);
  }
}

std::function<void()> com(std::uint32_t code, text description) {
  return [=] { throw _com_error(static_cast<hresult>(code), description); };
}

TEST(dispatcher_test, MapsTheHostErrorToStatusAndCode) {
  const struct {
    std::function<void()> failure;  // thrown while the host object is made
    int status;
    std::string code;
    std::string message_json;
  } cases[] = {
      {com(0x800400C9, u"Item not found"), 404, "201", "Item not found"},
      {com(0x800400CB, u""), 404, "203", ""},
      {com(0x800400C7, u"below"), 500, "199", "below"},
      {com(0x800400CC, u"Item locked"), 500, "204", "Item locked"},
      {com(0x80050001, u""), 500, "80050001", ""},
      {com(0x800400C9, u"caf\u00e9 \"x\"\n\U0001F600"), 404, "201", "caf\xC3\xA9 \\\"x\\\"\\n\xF0\x9F\x98\x80"},
      {[] { throw std::runtime_error("boom"); }, 500, "", "Unexpected exception"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code + " " + c.message_json);
    bench b;
    b.factory_.failure = c.failure;
    EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/file/MD/X", bearer("1a")), c.status);
    EXPECT_EQ(b.reply_, error_reply(c.status, c.message_json, c.code));
    EXPECT_NE(b.sessions_.find_session("1a"), nullptr);  // a failure does not end the session
  }
  bench b;
  b.config_.debug_level = 1;
  b.factory_.failure = cases[0].failure;
  EXPECT_EQ(stderr_of([&] { b.dispatch("GET", "/quelm/restfs/file/MD/X", bearer("1a")); }),
            "COM error: Item not found [0x800400c9]\n");
  // %C3 alone is not UTF-8: the item id cannot be handed to the host; other failures write no line.
  b.factory_.failure = nullptr;
  EXPECT_EQ(stderr_of([&] { EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/file/MD/%C3", bearer("1a")), 500); }), "");
  EXPECT_EQ(b.reply_, error_reply(500, "Unexpected exception"));
  EXPECT_EQ(b.factory_.hosts.at(0)->calls, calls{});
  // No host object ends the session.
  b.factory_.yields_no_host = true;
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/file/MD/X", bearer("1a")), 401);
  EXPECT_EQ(b.reply_, error_reply(401, no_session));
  EXPECT_EQ(b.sessions_.find_session("1a"), nullptr);
}

TEST(dispatcher_test, ActionGetsTheSessionTheRestAndTheHost) {
  bench b;
  b.factory_.prepare = [](fake_host& host) { host.script("read_item", u"A"); };
  // The account name as root: the item lives in the master dictionary the session names.
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/file/SALES/X%20Y", bearer("1a")), 200);
  EXPECT_EQ(b.factory_.hosts.at(0)->calls, calls{read_call(u"MD", u"X Y")});
  EXPECT_EQ(b.reply_, json_reply(R"({"id":"X Y","type":"array","data":["A"]})"));
}

TEST(dispatcher_test, SessionsWorkIndependentlyAndExitOnLogoutWaitsForTheLast) {
  bench b;
  b.config_.exit_on_logout = true;
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/logout"), 200);  // without a token: nothing stops
  const std::string first = b.login("a", 48), second = b.login("b", 49);
  ASSERT_NE(first, second);
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/logout", first), 200);
  EXPECT_EQ(b.reply_, "");
  // An unknown action after the session check shows whether the session was found.
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/ping", first), 401);
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/ping", second), 400);
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/logout", bearer("1a")), 200);
  EXPECT_TRUE(b.server_running_);
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/logout", second), 200);
  EXPECT_FALSE(b.server_running_);
  // One host per login and per request; each logout's host is told to quit.
  EXPECT_EQ(b.factory_.server_texts, (std::vector<std::string>{"**a", "**b", "SRV**a", "SRV**b", "SRV**", "SRV**b"}));
  EXPECT_EQ(b.factory_.hosts.at(5)->calls, (calls{{"quit", {}, {}}}));
}

}  // namespace
}  // namespace ombrix
