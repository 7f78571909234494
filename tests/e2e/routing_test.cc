// Request routing of the REST service over real sockets: prefix checks, action table, error order.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string too_short = "URL path too short. Path must begin with /quelm/restfs";
const std::string wrong_prefix = "URL path must begin with /quelm/restfs";
const std::string missing_token = "Authorization token must be included in the Authorization header.";

const std::string c1_json =
    R"({"id":"C1","type":"array","data":["Alice Smith",["Main St 1","Flat 2"],[["X","Y"],"Z"]]})";

std::string invalid_action(std::string_view method, std::string_view action) {
  return "Invalid method '" + std::string(method) + "' or action '" + std::string(action) +
         "' in request.";
}

struct route_case {
  const char* name;
  std::string method;
  std::string target;
  bool with_token;
  std::string expected;  // the whole response
};

void PrintTo(const route_case& c, std::ostream* out) { *out << c.name; }

class Routing : public server_test, public ::testing::WithParamInterface<route_case> {};

TEST_P(Routing, AnswersExactly) {
  const route_case& c = GetParam();
  std::vector<std::string> headers;
  if (c.with_token) {
    rest_client client = logged_in();
    headers.push_back("Authorization: Bearer " + client.token());
  }
  EXPECT_EQ(send_raw(http_request(c.method, c.target, {}, headers)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, Routing,
    ::testing::Values(
        route_case{"PrefixOnly", "GET", "/quelm/restfs", false, rest_error(400, too_short)},
        route_case{"PrefixWithSlash", "GET", "/quelm/restfs/", false, rest_error(400, too_short)},
        route_case{"Root", "GET", "/", false, rest_error(400, too_short)},
        route_case{"OneSegment", "POST", "/quelm", true, rest_error(400, too_short)},
        route_case{"UpperCaseFirstSegment", "GET", "/Quelm/restfs/file/x", false,
                   rest_error(400, wrong_prefix)},
        route_case{"UpperCaseSecondSegment", "GET", "/quelm/RESTFS/file/x", true,
                   rest_error(400, wrong_prefix)},
        route_case{"DoubleLeadingSlash", "GET", "//quelm/restfs/file/x", false,
                   rest_error(400, wrong_prefix)},
        route_case{"EmptyActionName", "GET", "/quelm/restfs//x", true,
                   rest_error(400, invalid_action("GET", ""))},
        route_case{"ActionCaseCounts", "GET", "/quelm/restfs/File/MAIN/X", true,
                   rest_error(400, invalid_action("GET", "File"))},
        route_case{"HeadIsNotInTheTable", "HEAD", "/quelm/restfs/file/MAIN/CUSTOMERS/CUSTOMERS/C1",
                   true, rest_error(400, invalid_action("HEAD", "file"))},
        route_case{"PostFile", "POST", "/quelm/restfs/file/MAIN/X", true,
                   rest_error(400, invalid_action("POST", "file"))},
        route_case{"GetLogin", "GET", "/quelm/restfs/login", true,
                   rest_error(400, invalid_action("GET", "login"))},
        route_case{"UnknownActionWithoutTokenIs401", "GET", "/quelm/restfs/bogus", false,
                   rest_error(401, missing_token)},
        route_case{"EncodedSlashesSeparateSegments", "GET",
                   "/quelm/restfs/file%2FMAIN%2FCUSTOMERS%2FCUSTOMERS%2FC1", true,
                   json_response(c1_json)},
        route_case{"EncodedLettersDecode", "GET", "/quelm/restfs/file/MA%49N/CUSTOMERS/CUSTOMERS/C%31",
                   true, json_response(c1_json)},
        route_case{"PlusIsABlank", "GET", "/quelm/restfs/dir/MAIN+", true,
                   rest_error(400, "File MD, VOC or account name is not valid.", "201")},
        route_case{"BadEscapeInPathWithoutToken", "GET", "/quelm/restfs/file/%zz", false,
                   rest_error(500, "Unexpected exception")},
        route_case{"BadEscapeInPathWithToken", "GET", "/quelm/restfs/file/MAIN/%zz", true,
                   rest_error(500, "Unexpected exception")},
        route_case{"InvalidUtf8InPath", "GET", "/quelm/restfs/file/MAIN/CUSTOMERS/CUSTOMERS/%C3A",
                   true, rest_error(500, "Unexpected exception")}),
    [](const ::testing::TestParamInfo<route_case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrix::e2e
