// Item read, update, create and delete over real sockets against the embedded host.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string name_missing = "File name missing from URL path.";
const std::string bad_root = "File MD, VOC or account name is not valid.";
const std::string bad_path = "File name or item ID missing from URL path.";

std::string item_json(std::string_view id, std::string_view data) {
  return "{\"id\":" + json_quote(id) + ",\"type\":\"array\",\"data\":" + std::string(data) + "}";
}

std::string data_body(std::string_view data) { return "{\"data\":" + std::string(data) + "}"; }

// A failure reported by the host: the status, the host's number as code, its own description.
::testing::AssertionResult is_host_error(const http_response& response, int status,
                                         std::string_view code) {
  std::string head = header_block(status) + "Content-Length: " + std::to_string(response.body.size()) +
                     "\r\nContent-Type:application/json\r\n\r\n";
  std::string start = "{\"status\":" + std::to_string(status) + ",\"message\":\"";
  std::string end = "\",\"code\":\"" + std::string(code) + "\"}";
  if (response.headers == head && response.body.starts_with(start) && response.body.ends_with(end)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "expected host error " << status << "/" << code
                                       << ", received:\n" << response.raw;
}

class FileTest : public server_test {
 protected:
  void SetUp() override {
    server_test::SetUp();
    client_ = std::make_unique<rest_client>(logged_in());
  }
  rest_client& client() { return *client_; }
  std::unique_ptr<rest_client> client_;
};

TEST_F(FileTest, ReadsSeededItemWithValuesAndSubvalues) {
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C1").raw,
            json_response(item_json(
                "C1", R"(["Alice Smith",["Main St 1","Flat 2"],[["X","Y"],"Z"]])")));
  EXPECT_EQ(client().get(api + "file/MD/CUSTOMERS/CUSTOMERS/C3").raw,
            json_response(item_json("C3", "[\"Cl\xC3\xA9o Dupr\xC3\xA9\"]")));
  EXPECT_EQ(client().get(api + "file/MAIN/BP/BP/HELLO").raw,
            json_response(item_json("HELLO", R"(["PRINT \"HELLO\"","END"])")));
}

struct round_trip_case {
  const char* name;
  std::string sent;      // the data array as sent
  std::string received;  // the data array as read back
};

void PrintTo(const round_trip_case& c, std::ostream* out) { *out << c.name; }

class ItemRoundTrip : public FileTest, public ::testing::WithParamInterface<round_trip_case> {};

TEST_P(ItemRoundTrip, WriteThenReadGivesExactData) {
  const round_trip_case& c = GetParam();
  std::string url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/RT";
  ASSERT_EQ(client().put(url, data_body(c.sent)).raw, empty_success());
  EXPECT_EQ(client().get(url).raw, json_response(item_json("RT", c.received)));
}

INSTANTIATE_TEST_SUITE_P(
    Data, ItemRoundTrip,
    ::testing::Values(
        round_trip_case{"ValuesAndSubvalues", R"(["NAME",["ADDR1","ADDR2"],[["s1","s2"],"v2"],"","last"])",
                        R"(["NAME",["ADDR1","ADDR2"],[["s1","s2"],"v2"],"","last"])"},
        round_trip_case{"SubvaluesInLaterValue", R"([["a",["b","c"],"d"]])", R"([["a",["b","c"],"d"]])"},
        round_trip_case{"NumbersCarryNothing", R"(["A",42.50,true,null,"B"])", R"(["A","B"])"},
        round_trip_case{"EmptyInnerArrayAddsNothing", R"(["a",[],"b"])", R"(["a","b"])"},
        round_trip_case{"ThreeLevels", R"([[["x"]]])", R"(["x"])"},
        round_trip_case{"EmptyArray", "[]", R"([""])"},
        round_trip_case{"OneEmptyString", R"([""])", R"([""])"},
        round_trip_case{"Utf8", "[\"Gr\xC3\xBC\xC3\x9F" "e\",[\"\xE6\x97\xA5\xE6\x9C\xAC\",\"\xC3\x84\"]]",
                        "[\"Gr\xC3\xBC\xC3\x9F" "e\",[\"\xE6\x97\xA5\xE6\x9C\xAC\",\"\xC3\x84\"]]"},
        round_trip_case{"Emoji",
                        "[\"\xF0\x9F\x98\x80\",[\"x\xF0\x9F\x8E\x89y\",\"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD\"]]",
                        "[\"\xF0\x9F\x98\x80\",[\"x\xF0\x9F\x8E\x89y\",\"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD\"]]"},
        round_trip_case{"EscapedCharacters", R"(["\u00e9\u65e5","\ud83d\ude00","tab\there"])",
                        "[\"\xC3\xA9\xE6\x97\xA5\",\"\xF0\x9F\x98\x80\",\"tab\\there\"]"},
        round_trip_case{"QuoteAndBackslash", R"(["say \"hi\"","back\\slash","a/b"])",
                        R"(["say \"hi\"","back\\slash","a/b"])"},
        round_trip_case{"ControlBytesAndNul", R"(["a\u0001b\u0000c\u001f\u007f"])",
                        R"(["a\u0001b\u0000c\u001F\u007F"])"}),
    [](const ::testing::TestParamInfo<round_trip_case>& info) { return std::string(info.param.name); });

TEST_F(FileTest, LargeItemRoundTrips) {
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += "line " + std::to_string(i) + " \xC3\xA9 ";
  std::string data = "[" + json_quote(big) + ",[\"v1\",\"v2\"]]";
  std::string url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/BIG";
  ASSERT_EQ(client().put(url, data_body(data)).raw, empty_success());
  EXPECT_EQ(client().get(url).raw, json_response(item_json("BIG", data)));
}

TEST_F(FileTest, PercentEncodedIdComesBackDecoded) {
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/CUSTOMERS/A%20B%C3%A9%2B", data_body(R"(["x"])")).raw,
            empty_success());
  std::string expected = json_response(item_json("A B\xC3\xA9+", R"(["x"])"));
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/A%20B%C3%A9%2B").raw, expected);
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/A+B%c3%a9%2b").raw, expected);
  http_response listing = client().get(api + "dir/MAIN/CUSTOMERS/CUSTOMERS");
  EXPECT_NE(listing.body.find("{\"id\":\"A B\xC3\xA9+\",\"attr\":0,\"size\":1}"), std::string::npos)
      << listing.raw;
}

struct bad_body_case {
  const char* name;
  std::string body;
  int status;
  std::string message;
};

void PrintTo(const bad_body_case& c, std::ostream* out) { *out << c.name; }

class UpdateRefusal : public FileTest, public ::testing::WithParamInterface<bad_body_case> {};

TEST_P(UpdateRefusal, RefusesAndLeavesTheItemUnchanged) {
  const bad_body_case& c = GetParam();
  std::string url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2";
  std::string before = client().get(url).raw;
  ASSERT_EQ(parse_response(before).status, 200);
  EXPECT_EQ(client().put(url, c.body).raw, rest_error(c.status, c.message));
  EXPECT_EQ(client().post(api + "create/MAIN/CUSTOMERS/CUSTOMERS/NEW", c.body).raw,
            rest_error(c.status, c.message));
  EXPECT_EQ(client().get(url).raw, before);
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/NEW"), 404, "202"));
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, UpdateRefusal,
    ::testing::Values(
        bad_body_case{"Empty", "", 400, "Malformed JSON payload."},
        bad_body_case{"TopLevelArray", R"(["a"])", 400, "Malformed JSON payload."},
        bad_body_case{"Unterminated", R"({"data":["a"])", 400, "Malformed JSON payload."},
        bad_body_case{"NoData", R"({"other":["a"]})", 400, "'data' property missing from JSON payload."},
        bad_body_case{"DataObject", R"({"data":{"a":"b"}})", 400, "'data' property must be a JSON array."},
        bad_body_case{"DataString", R"({"data":"a"})", 400, "'data' property must be a JSON array."},
        bad_body_case{"DataNumber", R"({"data":5})", 400, "'data' property must be a JSON array."},
        bad_body_case{"FourLevels", R"({"data":[[[["x"]]]]})", 400,
                      "Malformed JSON array in 'data' property."},
        bad_body_case{"InvalidUtf8", "{\"data\":[\"\xC3(\"]}", 500, "Unexpected exception"}),
    [](const ::testing::TestParamInfo<bad_body_case>& info) { return std::string(info.param.name); });

TEST_F(FileTest, FirstOfTwoDataMembersCounts) {
  std::string url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/TWICE";
  ASSERT_EQ(client().put(url, R"({"data":["first"],"data":["second"]})").raw, empty_success());
  EXPECT_EQ(client().get(url).raw, json_response(item_json("TWICE", R"(["first"])")));
}

TEST_F(FileTest, UpdateCreatesAMissingItemAndReplacesAnExistingOne) {
  std::string url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2";
  ASSERT_EQ(client().put(url, data_body(R"(["Bob Jones",["42","43"]])")).raw, empty_success());
  EXPECT_EQ(client().get(url).raw, json_response(item_json("C2", R"(["Bob Jones",["42","43"]])")));
  // PUT ignores the dir option.
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/CUSTOMERS/FRESH?dir=true", data_body(R"(["n"])")).raw,
            empty_success());
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/FRESH").raw,
            json_response(item_json("FRESH", R"(["n"])")));
}

TEST_F(FileTest, ItemsOfTheMasterDictionaryADictionaryAndASecondSection) {
  ASSERT_EQ(client().put(api + "file/MAIN/GREETING", data_body(R"(["hi"])")).raw, empty_success());
  EXPECT_EQ(client().get(api + "file/MD/GREETING").raw, json_response(item_json("GREETING", R"(["hi"])")));

  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/NAME", data_body(R"(["A","1"])")).raw, empty_success());
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/NAME").raw,
            json_response(item_json("NAME", R"(["A","1"])")));
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/NAME"), 404, "202"));

  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/HIST/H1", data_body(R"(["old"])")).raw, empty_success());
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/HIST/H1").raw,
            json_response(item_json("H1", R"(["old"])")));
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/H1"), 404, "202"));
}

TEST_F(FileTest, CreateStoresContentAndRefusesAnExistingItem) {
  std::string url = api + "create/MAIN/CUSTOMERS/CUSTOMERS/N1";
  ASSERT_EQ(client().post(url, data_body(R"(["new",["a","b"]])")).raw, empty_success());
  std::string read_url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/N1";
  EXPECT_EQ(client().get(read_url).raw, json_response(item_json("N1", R"(["new",["a","b"]])")));

  EXPECT_TRUE(is_host_error(client().post(url, data_body(R"(["other"])")), 500, "204"));
  EXPECT_EQ(client().get(read_url).raw, json_response(item_json("N1", R"(["new",["a","b"]])")));
}

TEST_F(FileTest, CreateRefusesDirTrueInAnyCaseOnly) {
  for (std::string option : {"dir=true", "dir=TRUE", "DIR=True"}) {
    EXPECT_EQ(client().post(api + "create/MAIN/CUSTOMERS/CUSTOMERS/D1?" + option, data_body(R"(["x"])")).raw,
              rest_error(400, "Creating new directories is not supported."))
        << option;
  }
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/D1"), 404, "202"));
  for (std::string option : {"dir=yes", "dir=1", "dir=true1"}) {
    std::string id = "D_" + option.substr(4);
    EXPECT_EQ(client().post(api + "create/MAIN/CUSTOMERS/CUSTOMERS/" + id + "?" + option,
                            data_body(R"(["x"])")).raw,
              empty_success())
        << option;
    EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/" + id).raw,
              json_response(item_json(id, R"(["x"])")));
  }
}

// The dir option arrives as a QS_ line: from the query (name decoded, trimmed, upper-cased; the
// first of two wins) or from a URL-encoded form body of a POST.
TEST_F(FileTest, CreateReadsTheDirOptionFromQueryAndForm) {
  const std::string refused = rest_error(400, "Creating new directories is not supported.");
  const std::string url = api + "create/MAIN/CUSTOMERS/CUSTOMERS/Q1";
  EXPECT_EQ(client().post(url + "?%20dir%20=true", data_body(R"(["x"])")).raw, refused);
  EXPECT_EQ(client().call("POST", url, "dir=true", {"Content-Type: application/x-www-form-urlencoded"}).raw,
            refused);
  EXPECT_EQ(client().call("POST", url, "dir=true", {"Content-Type: APPLICATION/X-WWW-FORM-URLENCODED"}).raw,
            refused);
  // With a charset parameter the body is not a form: it is read as JSON and is not JSON.
  EXPECT_EQ(client().call("POST", url, "dir=true",
                          {"Content-Type: application/x-www-form-urlencoded; charset=utf-8"}).raw,
            rest_error(400, "Malformed JSON payload."));
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/Q1"), 404, "202"));
  EXPECT_EQ(client().post(url + "?dir=no&dir=true", data_body(R"(["x"])")).raw, empty_success());
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/Q1").raw,
            json_response(item_json("Q1", R"(["x"])")));
}

TEST_F(FileTest, DeleteRemovesTheItemOnce) {
  std::string url = api + "file/MAIN/CUSTOMERS/CUSTOMERS/C3";
  EXPECT_EQ(client().del(url).raw, empty_success());
  EXPECT_TRUE(is_host_error(client().get(url), 404, "202"));
  EXPECT_TRUE(is_host_error(client().del(url), 404, "202"));
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2").status, 200);
}

TEST_F(FileTest, DeleteOfAFilePointerIsRefusedAndTheFileStays) {
  EXPECT_TRUE(is_host_error(client().del(api + "file/MAIN/CUSTOMERS"), 500, "207"));
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C1").status, 200);
  EXPECT_EQ(client().get(api + "dir/MAIN").body,
            R"({"items":[{"id":"BP","attr":16},{"id":"CUSTOMERS","attr":16},{"id":"MD","attr":16}]})" "\r\n");
}

TEST_F(FileTest, HostRefusalsAreNotFound) {
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/NOPE"), 404, "202"));
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/NOFILE/NOFILE/X"), 404, "200"));
  EXPECT_TRUE(is_host_error(client().put(api + "file/MAIN/NOFILE/NOFILE/X", data_body(R"(["a"])")),
                            404, "200"));
  // An empty item id (two slashes before the end) reaches the host, which refuses it.
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS//"), 404, "203"));
}

struct path_case {
  const char* name;
  std::string method;
  std::string target;  // after the service prefix
  std::string code;
  std::string message;
};

void PrintTo(const path_case& c, std::ostream* out) { *out << c.name; }

class PathRefusal : public FileTest, public ::testing::WithParamInterface<path_case> {};

TEST_P(PathRefusal, RefusesBeforeAnyHostCall) {
  const path_case& c = GetParam();
  std::string body = c.method == "GET" || c.method == "DELETE" ? "" : data_body(R"(["x"])");
  EXPECT_EQ(client().call(c.method, api + c.target, body).raw, rest_error(400, c.message, c.code));
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PathRefusal,
    ::testing::Values(
        path_case{"ReadNoSegment", "GET", "file", "200", name_missing},
        path_case{"ReadTrailingSlashOnly", "GET", "file/", "200", name_missing},
        path_case{"ReadUnknownRoot", "GET", "file/NOPE/X", "201", bad_root},
        path_case{"ReadOtherAccount", "GET", "file/SALES/LEADS/LEADS/L1", "201", bad_root},
        path_case{"ReadRootCaseCounts", "GET", "file/main/CUSTOMERS/CUSTOMERS/C1", "201", bad_root},
        path_case{"ReadEmptyRoot", "GET", "file//X", "201", bad_root},
        path_case{"ReadRootOnly", "GET", "file/MAIN", "203", bad_path},
        path_case{"ReadRootAndSlash", "GET", "file/MAIN/", "203", bad_path},
        path_case{"ReadFiveSegments", "GET", "file/MAIN/A/B/C/D", "203", bad_path},
        path_case{"UpdateNoSegment", "PUT", "file", "200", name_missing},
        path_case{"UpdateUnknownRoot", "PUT", "file/NOPE/X", "201", bad_root},
        path_case{"UpdateRootOnly", "PUT", "file/MAIN", "203", bad_path},
        path_case{"CreateNoSegment", "POST", "create", "200", name_missing},
        path_case{"CreateRootOnlyBeforeDirCheck", "POST", "create/MAIN?dir=true", "203", bad_path},
        path_case{"DeleteNoSegment", "DELETE", "file", "200", name_missing},
        path_case{"DeleteUnknownRoot", "DELETE", "file/NOPE/X", "201", bad_root},
        path_case{"DeleteRootOnly", "DELETE", "file/MAIN/", "203", bad_path}),
    [](const ::testing::TestParamInfo<path_case>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrix::e2e
