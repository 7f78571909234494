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

  int dispatch(std::string_view method, std::optional<std::string> path, std::string_view authorization = {}) {
    reply_ = "not yet";
    return dispatch_rest_request(99, request_environment(method, path, authorization), "", reply_, context());
  }
  rest_context context() { return rest_context{config_, sessions_, locks_, make_host_, server_running_}; }

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
  // reaches_session: the session check passed and a host object was made; diagnostic: written at
  // debug level 1 when not empty, never at level 0.
  const struct { std::string method; std::optional<std::string> path; token authorization; int status;
                 std::string message_json; bool reaches_session; std::string diagnostic = ""; } cases[] = {
      {"GET", "/quelm/restfs", token::valid, 400, too_short, false},
      {"GET", std::nullopt, token::valid, 400, too_short, false},
      {"GET", "/Quelm/restfs/file/x", token::valid, 400, wrong_prefix, false},
      {"get", "/quelm/restfs/file/MD/X", token::valid, 400, invalid("get", "file"), true,
       "invalid method 'get' or action 'file'\n"},
      {"GET", "/quelm%2Frestfs%2fnothing", token::valid, 400, invalid("GET", "nothing"), true},
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
    EXPECT_EQ(b.factory_.server_texts.size(), c.reaches_session ? 1u : 0u);
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
  // `failure` is thrown while the host object is made.
  const struct { std::function<void()> failure; int status; std::string code, message_json; } cases[] = {
      {com(0x800400C9, u"Item not found"), 404, "201", "Item not found"},
      {com(0x800400CB, u""), 404, "203", ""},
      {com(0x800400C7, u"below"), 500, "199", "below"},
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
  // No host object ends the session.
  b.config_.debug_level = 0;
  b.factory_.failure = nullptr;
  b.factory_.yields_no_host = true;
  EXPECT_EQ(b.dispatch("GET", "/quelm/restfs/file/MD/X", bearer("1a")), 401);
  EXPECT_EQ(b.reply_, error_reply(401, no_session));
  EXPECT_EQ(b.sessions_.find_session("1a"), nullptr);
}

}  // namespace
}  // namespace ombrix
