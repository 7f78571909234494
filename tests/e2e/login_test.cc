// Login, logout and access tokens against the embedded host over real sockets.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string missing_token = "Authorization token must be included in the Authorization header.";
const std::string unknown_session = "Session for authorization token not found (new login required).";
const std::string bad_root = "File MD, VOC or account name is not valid.";

std::string login_json(std::string_view sid) {
  return "{\"token_type\":\"Bearer\",\"access_token\":\"" + token_for_sid(sid) + "\"}";
}

TEST(TokenFormat, HelperMatchesKnownToken) {
  // Computed independently: Base64 of the JWT header, URL-safe Base64 of {"sid":"1"}.
  EXPECT_EQ(token_for_sid("1"), "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxIn0=");
  EXPECT_EQ(token_for_sid("ff"), "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiJmZiJ9");
}

using LoginTest = server_test;

TEST_F(LoginTest, EmptyBodyOnFirstConnectionGivesExactReply) {
  std::string response = send_raw(http_request("POST", api + "login"));
  EXPECT_EQ(response, json_response(login_json("1")));
}

TEST_F(LoginTest, SessionIdIsConnectionNumberInLowerCaseHex) {
  // Connections 1..25 are logouts without a token (200, nothing happens); 26 is the login.
  for (int i = 1; i <= 25; ++i) {
    ASSERT_EQ(send_raw(http_request("GET", api + "logout")), empty_success()) << "connection " << i;
  }
  EXPECT_EQ(send_raw(http_request("POST", api + "login")), json_response(login_json("1a")));
}

struct login_case {
  const char* name;
  std::string body;
  std::string account;  // the account the session must reach
};

void PrintTo(const login_case& c, std::ostream* out) { *out << c.name; }

class LoginServerName : public server_test, public ::testing::WithParamInterface<login_case> {};

TEST_P(LoginServerName, ReachesTheComposedAccount) {
  const login_case& c = GetParam();
  rest_client client(port());
  ASSERT_TRUE(client.login(c.body)) << client.last().raw;
  if (c.account == "MAIN") {
    EXPECT_EQ(client.get(api + "dir/MAIN").raw,
              json_response(R"({"items":[{"id":"BP","attr":16},{"id":"CUSTOMERS","attr":16},{"id":"MD","attr":16}]})"));
    EXPECT_EQ(client.get(api + "dir/MD").status, 200);
    EXPECT_EQ(client.get(api + "dir/SALES").raw, rest_error(400, bad_root, "201"));
  } else {
    EXPECT_EQ(client.get(api + "dir/SALES").raw,
              json_response(R"({"items":[{"id":"LEADS","attr":16},{"id":"SMD","attr":16}]})"));
    EXPECT_EQ(client.get(api + "dir/SMD").status, 200);
    EXPECT_EQ(client.get(api + "dir/MAIN").raw, rest_error(400, bad_root, "201"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Compositions, LoginServerName,
    ::testing::Values(
        login_case{"EmptyBody", "", "MAIN"},
        login_case{"StarWithClient", R"({"ServerName":"*","Client":"vscode"})", "MAIN"},
        login_case{"ClientOnly", R"({"Client":"vscode"})", "MAIN"},
        login_case{"PlainName", R"({"ServerName":"SALES"})", "SALES"},
        login_case{"PlainNameWithClient", R"({"ServerName":"SALES","Client":"c"})", "SALES"},
        login_case{"StarredPath", R"({"ServerName":"alpha*SALES","Client":"c"})", "SALES"},
        login_case{"TrailingStar", R"({"ServerName":"SALES*","Client":"c"})", "SALES"},
        login_case{"NumericNameIgnored", R"({"ServerName":42})", "MAIN"},
        login_case{"NumericClientIgnored", R"({"ServerName":"SALES","Client":7})", "SALES"},
        login_case{"BodyNotJson", "not json", "MAIN"},
        login_case{"IncompleteObjectKeepsDefaults", R"({"ServerName":"SALES")", "MAIN"}),
    [](const ::testing::TestParamInfo<login_case>& info) { return std::string(info.param.name); });

class LoginUnknownAccount : public server_test, public ::testing::WithParamInterface<std::string> {};

TEST_P(LoginUnknownAccount, IsNotFoundWithHostCode201) {
  http_response response =
      parse_response(send_raw(http_request("POST", api + "login", GetParam())));
  EXPECT_EQ(response.status, 404);
  EXPECT_TRUE(response.raw.starts_with(header_block(404) + "Content-Length: ")) << response.raw;
  EXPECT_NE(response.headers.find("\r\nContent-Type:application/json\r\n\r\n"), std::string::npos);
  EXPECT_TRUE(response.body.starts_with(R"({"status":404,"message":")")) << response.body;
  EXPECT_TRUE(response.body.ends_with(R"(","code":"201"})")) << response.body;
}

INSTANTIATE_TEST_SUITE_P(Accounts, LoginUnknownAccount,
                         ::testing::Values(R"({"ServerName":"NOPE"})",
                                           R"({"ServerName":"alpha*NOPE","Client":"c"})",
                                           R"({"ServerName":"../MAIN"})"));

TEST_F(LoginTest, LogoutWithoutTokenSucceedsAndDoesNothing) {
  rest_client client = logged_in();
  EXPECT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());
  EXPECT_EQ(client.get(api + "dir/MAIN").status, 200);
}

TEST_F(LoginTest, TwoSessionsAreIndependentAndLogoutEndsOnlyOne) {
  rest_client first = logged_in();
  rest_client second = logged_in();
  ASSERT_NE(first.token(), second.token());
  EXPECT_EQ(first.token(), token_for_sid("1"));
  EXPECT_EQ(second.token(), token_for_sid("2"));

  EXPECT_EQ(first.get(api + "logout").raw, empty_success());
  EXPECT_EQ(first.get(api + "dir/MAIN").raw, rest_error(401, unknown_session));
  EXPECT_EQ(second.get(api + "dir/MAIN").status, 200);
  // A second logout of the same token still succeeds.
  EXPECT_EQ(first.get(api + "logout").raw, empty_success());
}

TEST_F(LoginTest, LoginNeverEndsTheSessionItCarries) {
  rest_client first = logged_in();
  http_response again = first.post(api + "login", "");
  ASSERT_EQ(again.status, 200);
  auto token = token_from_login(again.body);
  ASSERT_TRUE(token.has_value());
  EXPECT_NE(*token, first.token());
  EXPECT_EQ(first.get(api + "dir/MAIN").status, 200);
  EXPECT_EQ(rest_client(port(), *token).get(api + "dir/MAIN").status, 200);
}

struct token_case {
  const char* name;
  std::string authorization;  // the whole header value; "$" stands for the payload of sid 1
  std::string expected_message;  // empty: the request must succeed
};

void PrintTo(const token_case& c, std::ostream* out) { *out << c.name; }

class TokenReading : public server_test, public ::testing::WithParamInterface<token_case> {};

TEST_P(TokenReading, TokenIsAcceptedOrRefusedExactly) {
  const token_case& c = GetParam();
  rest_client owner = logged_in();  // connection 1, sid "1"
  ASSERT_EQ(owner.token(), token_for_sid("1"));
  std::string payload = base64url(R"({"sid":"1"})");
  std::string value = c.authorization;
  if (auto at = value.find('$'); at != std::string::npos) value.replace(at, 1, payload);
  std::string response =
      send_raw(http_request("GET", api + "dir/MAIN", {}, {"Authorization: " + value}));
  if (c.expected_message.empty()) {
    EXPECT_EQ(parse_response(response).status, 200) << response;
  } else {
    EXPECT_EQ(response, rest_error(401, c.expected_message));
  }
}

const std::string prefix = "Bearer " + std::string(token_header) + ".";

INSTANTIATE_TEST_SUITE_P(
    Variants, TokenReading,
    ::testing::Values(
        token_case{"Exact", prefix + "$", ""},
        token_case{"PaddingRemoved", prefix + "eyJzaWQiOiIxIn0", ""},
        token_case{"BlanksInserted", prefix + "eyJz aWQi OiIx In0=", ""},
        token_case{"LowerCaseBearer", "bearer " + std::string(token_header) + ".$", missing_token},
        token_case{"TwoBlanks", "Bearer  " + std::string(token_header) + ".$", missing_token},
        token_case{"OnlyThePrefix", prefix, missing_token},
        token_case{"PayloadNotJson", prefix + base64url("sid=1"), missing_token},
        token_case{"NumericSid", prefix + base64url(R"({"sid":1})"), missing_token},
        token_case{"NoSidMember", prefix + base64url(R"({"id":"1"})"), missing_token},
        token_case{"UnknownSession", prefix + base64url(R"({"sid":"ff"})"), unknown_session}),
    [](const ::testing::TestParamInfo<token_case>& info) { return std::string(info.param.name); });

TEST_F(LoginTest, NoAuthorizationHeaderIsRefusedForEveryOtherAction) {
  for (const auto& [method, action] : std::vector<std::pair<std::string, std::string>>{
           {"GET", "file/MAIN/X"}, {"PUT", "file/MAIN/X"}, {"GET", "dir/MAIN"},
           {"GET", "bogus"}, {"OPTIONS", "login"}, {"GET", "login"}, {"POST", "logout"}}) {
    EXPECT_EQ(send_raw(http_request(method, api + action)), rest_error(401, missing_token))
        << method << " " << action;
  }
}

}  // namespace
}  // namespace ombrix::e2e
