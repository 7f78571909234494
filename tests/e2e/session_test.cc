// Sessions over real sockets: tokens from the connection number, logout.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

using Session = server_test;

TEST_F(Session, SessionsAreIndependentAndLogoutEndsOnlyOne) {
  rest_client first = logged_in(), second = logged_in();
  EXPECT_EQ(first.token(), token_for_sid("1"));
  EXPECT_EQ(second.token(), token_for_sid("2"));
  EXPECT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());  // no token: nothing ends
  EXPECT_EQ(first.post(api + "login", "").raw, json_response(login_json("4")));  // a login ends no session
  EXPECT_EQ(rest_client(port(), token_for_sid("4")).get(api + "dir/MAIN").status, 200);
  EXPECT_EQ(first.get(api + "logout").raw, empty_success());
  EXPECT_EQ(first.get(api + "dir/MAIN").raw, rest_error(401, unknown_session));
  EXPECT_EQ(second.get(api + "dir/MAIN").status, 200);
  EXPECT_EQ(first.get(api + "logout").raw, empty_success());  // a second logout still succeeds
  const std::pair<std::string, std::string> cases[] = {  // header value, refusal (empty: accepted)
      {"Bearer " + std::string(token_header) + ".eyJzaWQiOiIyIn0", ""},  // also without padding
      {"bearer " + token_for_sid("2"), missing_token},
      {"Bearer " + token_for_sid("1"), unknown_session},
  };
  for (const auto& [value, refusal] : cases) {
    EXPECT_EQ(send_raw(http_request("GET", api + "dir/MAIN", {}, {"Authorization: " + value})),
              refusal.empty() ? json_response(main_listing) : rest_error(401, refusal)) << value;
  }
  EXPECT_EQ(rest_client(port()).get(api + "file/MAIN/X").raw, rest_error(401, missing_token));
}

}  // namespace
}  // namespace ombrix::e2e
