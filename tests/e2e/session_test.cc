// Sessions over real sockets: tokens from the connection number, logout.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

using Session = server_test;

// The tokens of sessions 1, 2 and 4: {"sid":"N"} in URL-safe Base64 after the fixed header.
const std::string token_1 = std::string(token_header) + ".eyJzaWQiOiIxIn0=", token_2 = std::string(token_header) + ".eyJzaWQiOiIyIn0=",
                  token_4 = std::string(token_header) + ".eyJzaWQiOiI0In0=";

TEST_F(Session, SessionsAreIndependentAndLogoutEndsOnlyOne) {
  rest_client first = logged_in(), second = logged_in();
  EXPECT_EQ(first.token() + " " + second.token(), token_1 + " " + token_2);  // ids are connection numbers
  EXPECT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());  // no token: nothing ends
  EXPECT_EQ(first.post(api + "login", "").raw, json_response("{\"token_type\":\"Bearer\",\"access_token\":\"" + token_4 + "\"}"));  // a login ends no session
  EXPECT_EQ(rest_client(port(), token_4).get(api + "dir/MAIN").status, 200);
  EXPECT_EQ(first.get(api + "logout").raw, empty_success());
  EXPECT_EQ(first.get(api + "dir/MAIN").raw, rest_error(401, unknown_session));
  EXPECT_EQ(second.get(api + "dir/MAIN").status, 200);
  EXPECT_EQ(first.get(api + "logout").raw, empty_success());  // a second logout still succeeds
  const std::pair<std::string, std::string> cases[] = {  // header value, refusal (empty: accepted)
      {"Bearer " + token_2.substr(0, token_2.size() - 1), ""},  // also without padding
      {"bearer " + token_2, missing_token},
      {"Bearer " + token_1, unknown_session},
  };
  for (const auto& [value, refusal] : cases) {
    EXPECT_EQ(send_raw(http_request("GET", api + "dir/MAIN", {}, {"Authorization: " + value})),
              refusal.empty() ? json_response(main_listing) : rest_error(401, refusal)) << value;
  }
  EXPECT_EQ(rest_client(port()).get(api + "file/MAIN/X").raw, rest_error(401, missing_token));
}

}  // namespace
}  // namespace ombrix::e2e
