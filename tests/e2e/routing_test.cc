// Request routing of the REST service over real sockets: prefix checks, action table, error order.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

using Routing = client_test;

TEST_F(Routing, AnswersExactly) {
  const std::string too_short = "URL path too short. Path must begin with /quelm/restfs";
  const std::string wrong_prefix = "URL path must begin with /quelm/restfs";
  const std::string unexpected = "Unexpected exception";
  auto invalid = [](std::string method, std::string action) {
    return rest_error(400, "Invalid method '" + method + "' or action '" + action + "' in request.");
  };
  rest_client anonymous(port());
  expect_responses(anonymous, {
      {"GET", "/quelm/restfs/", "", rest_error(400, too_short)},
      {"GET", "//quelm/restfs/file/x", "", rest_error(400, wrong_prefix)},
      {"GET", "/quelm/restfs/bogus", "", rest_error(401, missing_token)},
  });
  expect_responses(client(), {
      {"GET", "/quelm/restfs//x", "", invalid("GET", "")},
      {"HEAD", "file/" + customers + "/C1", "", invalid("HEAD", "file")},
      {"GET", "file%2FMAIN%2FCUSTOMERS%2FCUSTOMERS%2FC1", "", item_response("C1", c1_data)},
      {"GET", "dir/MAIN+", "", rest_error(400, bad_root, "201")},
      {"GET", "file/MAIN/%zz", "", rest_error(500, unexpected)},
  });
}

}  // namespace
}  // namespace ombrix::e2e
