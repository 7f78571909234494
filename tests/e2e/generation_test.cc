// Host generations 7.1 and 8.0 (-n 71 / -n 80): the calls differ (create then write against one
// create carrying the content), what a client observes must not.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

std::string item_json(std::string_view id, std::string_view data) {
  return "{\"id\":" + json_quote(id) + ",\"type\":\"array\",\"data\":" + std::string(data) + "}";
}

bool has_code(const http_response& response, int status, std::string_view code) {
  return response.status == status &&
         response.body.ends_with("\",\"code\":\"" + std::string(code) + "\"}");
}

class Generation : public server_test, public ::testing::WithParamInterface<std::string> {
 protected:
  std::vector<std::string> server_args() const override { return {"-n", GetParam()}; }
};

TEST_P(Generation, CreateStoresTheContentInOneRequest) {
  rest_client client = logged_in();
  const std::string data = R"(["first",["v1","v2"],[["s1","s2"]]])";
  ASSERT_EQ(client.post(api + "create/MAIN/CUSTOMERS/CUSTOMERS/G1", "{\"data\":" + data + "}").raw,
            empty_success());
  EXPECT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/G1").raw,
            json_response(item_json("G1", data)));
  EXPECT_EQ(client.get(api + "stat/MAIN/CUSTOMERS/CUSTOMERS/G1").raw,
            json_response(R"({"attr":0,"size":23})"));
}

TEST_P(Generation, CreateOfAnExistingItemIsRefusedAndTheItemKept) {
  rest_client client = logged_in();
  http_response response = client.post(api + "create/MAIN/CUSTOMERS/CUSTOMERS/C2", R"({"data":["x"]})");
  EXPECT_TRUE(has_code(response, 500, "204")) << response.raw;
  EXPECT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2").raw,
            json_response(item_json("C2", R"(["Bob Jones","42"])")));
}

TEST_P(Generation, RenameMovesTheContentAndRefusesAnExistingTarget) {
  rest_client client = logged_in();
  ASSERT_EQ(client.get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C2?newname=MAIN/CUSTOMERS/CUSTOMERS/C4").raw,
            empty_success());
  EXPECT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C4").raw,
            json_response(item_json("C4", R"(["Bob Jones","42"])")));
  EXPECT_TRUE(has_code(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2"), 404, "202"));

  http_response refused =
      client.get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C4?newname=MAIN/CUSTOMERS/CUSTOMERS/C1");
  EXPECT_TRUE(has_code(refused, 500, "204")) << refused.raw;
  EXPECT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C4").raw,
            json_response(item_json("C4", R"(["Bob Jones","42"])")));
  EXPECT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C1").status, 200);

  EXPECT_EQ(client.get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C4?newname=MAIN/CUSTOMERS/CUSTOMERS/C4").raw,
            empty_success());
  EXPECT_EQ(client.get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C4").raw,
            json_response(item_json("C4", R"(["Bob Jones","42"])")));
}

INSTANTIATE_TEST_SUITE_P(HostGenerations, Generation, ::testing::Values("71", "80"),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           return "N" + info.param;
                         });

}  // namespace
}  // namespace ombrix::e2e
