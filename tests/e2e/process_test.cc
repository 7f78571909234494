// The server process seen from outside: -a (exit after the last logout), -d, -c (root name case).
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

using Process = server_test;

TEST_F(Process, WithMinusAEndsWithZeroOnlyAfterTheLastLogoutAndMinusDTraces) {
  start_server({"-a", "-d", "2"});
  rest_client first = logged_in(), second = logged_in();
  ASSERT_EQ(send_raw(http_request("GET", api + "logout")), empty_success());  // no token
  ASSERT_EQ(first.get(api + "logout").raw, empty_success());
  EXPECT_FALSE(server_->wait_for_exit(1500ms).has_value()) << "one session is left";
  EXPECT_EQ(second.get(api + "dir/MAIN").status, 200);
  ASSERT_EQ(second.get(api + "logout").raw, empty_success());
  EXPECT_EQ(server_->wait_for_exit(5s), std::optional<int>(0));
  EXPECT_NE(server_->stderr_text().find("\nHTTP request: GET /quelm/restfs/dir/MAIN HTTP/1.1\n"), std::string::npos);  // -d reaches the layers
}

TEST_F(Process, WithMinusCRootNamesIgnoreCaseButFileNamesAndRenameDoNot) {
  start_server({"-c"});
  rest_client client = logged_in();
  expect_responses(client, {
      {"GET", "file/main/CUSTOMERS/CUSTOMERS/C2", "", item_response("C2", c2_data)},
      {"GET", "dir/md", "", json_response(main_listing)},
      {"GET", "rename/MAIN/CUSTOMERS/CUSTOMERS/C2?newname=main/CUSTOMERS/CUSTOMERS/C7", "", rest_error(400, move_refused)},
      {"GET", "rename/main/CUSTOMERS/CUSTOMERS/C2?newname=main/CUSTOMERS/CUSTOMERS/C7", "", empty_success()},
      {"GET", "file/MAIN/customers/CUSTOMERS/C7", "", host(404, "200")},
  });
}

}  // namespace
}  // namespace ombrix::e2e
