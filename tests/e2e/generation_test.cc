// Host generations 7.1 and 8.0 (-n 71 / -n 80): the calls differ (create then write against one
// create carrying the content), what a client observes must not.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

class Generation : public server_test, public ::testing::WithParamInterface<std::string> {
 protected:
  std::vector<std::string> server_args() const override { return {"-n", GetParam()}; }
};

TEST_P(Generation, CreateAndRenameBehaveAlike) {
  rest_client client = logged_in();
  const std::string section = "file/" + customers + "/";
  const std::string data = R"(["first",["v1","v2"],[["s1","s2"]]])";
  const std::string rename = "rename/" + customers + "/C4?newname=" + customers;
  expect_responses(client, {
      {"POST", "create/" + customers + "/G1", data_body(data), empty_success()},
      {"GET", section + "G1", "", item_response("G1", data)},
      {"GET", "stat/" + customers + "/G1", "", json_response(R"({"attr":0,"size":23})")},
      {"GET", "rename/" + customers + "/C2?newname=" + customers + "/C4", "", empty_success()},
      {"GET", section + "C4", "", item_response("C4", c2_data)},
      {"GET", rename + "/C4", "", empty_success()},
      {"GET", section + "C4", "", item_response("C4", c2_data)},
  });
  EXPECT_TRUE(is_host_error(client.get(api + section + "C2"), 404, "202"));
  EXPECT_TRUE(is_host_error(client.post(api + "create/" + customers + "/C4", R"({"data":["x"]})"), 500, "204"));
  EXPECT_TRUE(is_host_error(client.get(api + rename + "/C1"), 500, "204"));
  EXPECT_EQ(client.get(api + section + "C4").raw, item_response("C4", c2_data));
  EXPECT_EQ(client.get(api + section + "C1").raw, item_response("C1", c1_data));
}

INSTANTIATE_TEST_SUITE_P(HostGenerations, Generation, ::testing::Values("71", "80"),
                         [](const ::testing::TestParamInfo<std::string>& info) { return "N" + info.param; });

}  // namespace
}  // namespace ombrix::e2e
