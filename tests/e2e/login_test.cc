// Login, logout and access tokens against the embedded host over real sockets.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

TEST(TokenFormat, HelperMatchesKnownToken) {
  // Computed independently: Base64 of the JWT header, URL-safe Base64 of {"sid":"1"}.
  EXPECT_EQ(token_for_sid("1"), "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxIn0=");
  EXPECT_EQ(token_for_sid("ff"), "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiJmZiJ9");
  EXPECT_EQ(base64url("a") + base64url("ab") + base64url("abc"), "YQ==YWI=YWJj");
}

using Login = server_test;

// The session id is the connection number in lower-case hexadecimal: connection 1 is the first
// login, connections 2..25 are logouts without a token (200, nothing happens), 26 the next login.
TEST_F(Login, ExactReplyAndSessionIdFromTheConnectionNumber) {
  EXPECT_EQ(send_raw(http_request("POST", api + "login")), json_response(login_json("1")));
  for (int i = 2; i <= 25; ++i) ASSERT_EQ(send_raw(http_request("GET", api + "logout")), empty_success()) << i;
  EXPECT_EQ(send_raw(http_request("POST", api + "login")), json_response(login_json("1a")));
}

TEST_F(Login, ServerNameAndClientChooseTheAccount) {
  const std::string sales_listing = R"({"items":[{"id":"LEADS","attr":16},{"id":"SMD","attr":16}]})";
  // How a body becomes the server text is pinned by login_body_test; these are the forms of
  // server text that choose an account in the real host.
  const std::pair<std::string, bool> cases[] = {  // body, reaches SALES (else MAIN)
      {"", false},
      {R"({"ServerName":"*","Client":"vscode"})", false},
      {R"({"ServerName":"SALES"})", true},
      {R"({"ServerName":"SALES","Client":"c"})", true},
      {R"({"ServerName":"alpha*SALES","Client":"c"})", true},
      {R"({"ServerName":"SALES*","Client":"c"})", true},
      {R"({"ServerName":"SALES")", false},  // an incomplete object keeps the defaults
  };
  for (const auto& [body, sales] : cases) {
    SCOPED_TRACE(body);
    rest_client client(port());
    ASSERT_TRUE(client.login(body)) << client.last().raw;
    expect_responses(client, {
        {"GET", sales ? "dir/SALES" : "dir/MAIN", "", json_response(sales ? sales_listing : main_listing)},
        {"GET", sales ? "dir/SMD" : "dir/MD", "", json_response(sales ? sales_listing : main_listing)},
        {"GET", sales ? "dir/MAIN" : "dir/SALES", "", rest_error(400, bad_root, "201")},
    });
  }
  for (std::string body : {R"({"ServerName":"NOPE"})", R"({"ServerName":"alpha*NOPE","Client":"c"})",
                           R"({"ServerName":"../MAIN"})"}) {
    EXPECT_TRUE(is_host_error(parse_response(send_raw(http_request("POST", api + "login", body))), 404, "201"))
        << body;
  }
}

TEST_F(Login, SessionsAreIndependentAndLogoutEndsOnlyOne) {
  rest_client first = logged_in();
  rest_client second = logged_in();
  EXPECT_EQ(first.token(), token_for_sid("1"));
  EXPECT_EQ(second.token(), token_for_sid("2"));
  EXPECT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());  // no token: nothing ends
  EXPECT_EQ(first.get(api + "dir/MAIN").status, 200);
  // A login never ends the session it carries.
  http_response again = first.post(api + "login", "");
  EXPECT_EQ(again.raw, json_response(login_json("5")));
  EXPECT_EQ(rest_client(port(), token_for_sid("5")).get(api + "dir/MAIN").status, 200);

  EXPECT_EQ(first.get(api + "logout").raw, empty_success());
  EXPECT_EQ(first.get(api + "dir/MAIN").raw, rest_error(401, unknown_session));
  EXPECT_EQ(second.get(api + "dir/MAIN").status, 200);
  EXPECT_EQ(first.get(api + "logout").raw, empty_success());  // a second logout still succeeds
}

TEST_F(Login, TokensAreAcceptedOrRefusedExactly) {
  ASSERT_EQ(logged_in().token(), token_for_sid("1"));
  const std::string header(token_header);
  const std::string prefix = "Bearer " + header + ".";
  const std::string payload = base64url(R"({"sid":"1"})");
  const std::pair<std::string, std::string> cases[] = {  // header value, refusal (empty: accepted)
      // Padding, blanks and other token forms are pinned by session_id_from_authorization_test.
      {prefix + payload, ""},
      {prefix + "eyJzaWQiOiIxIn0", ""},  // padding removed
      {"bearer " + header + "." + payload, missing_token},
      {prefix + base64url(R"({"sid":"ff"})"), unknown_session},
  };
  for (const auto& [value, refusal] : cases) {
    SCOPED_TRACE(value);
    std::string response = send_raw(http_request("GET", api + "dir/MAIN", {}, {"Authorization: " + value}));
    EXPECT_EQ(response, refusal.empty() ? json_response(main_listing) : rest_error(401, refusal));
  }
  rest_client anonymous(port());
  expect_responses(anonymous, {
      {"GET", "file/MAIN/X", "", rest_error(401, missing_token)},
      {"GET", "bogus", "", rest_error(401, missing_token)},
      {"POST", "logout", "", rest_error(401, missing_token)},
  });
}

}  // namespace
}  // namespace ombrix::e2e
