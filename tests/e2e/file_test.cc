// Item read, update, create and delete over real sockets against the embedded host.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string section = "file/" + customers + "/";  // items of the seeded data section
const std::string no_dirs = "Creating new directories is not supported.";

using File = client_test;

TEST_F(File, ReadsSeededItemsAndRoundTripsData) {
  expect_responses(client(), {
      {"GET", section + "C1", "", item_response("C1", c1_data)},
      {"GET", "file/MD/CUSTOMERS/CUSTOMERS/C3", "", item_response("C3", "[\"Cl\xC3\xA9o Dupr\xC3\xA9\"]")},
      {"GET", "file/MAIN/BP/BP/HELLO", "", item_response("HELLO", R"(["PRINT \"HELLO\"","END"])")},
  });
  // The data array as sent and as read back.
  const std::pair<std::string, std::string> cases[] = {
      {R"(["NAME",["ADDR1","ADDR2"],[["s1","s2"],"v2"],"","last"])", ""},
      {"[]", R"([""])"},
      {"[\"Gr\xC3\xBC\xC3\x9F" "e\",[\"\xE6\x97\xA5\xE6\x9C\xAC\",\"\xC3\x84\"]]", ""},
      {"[\"\xF0\x9F\x98\x80\",[\"x\xF0\x9F\x8E\x89y\",\"\xF0\x9F\x91\x8D\xF0\x9F\x8F\xBD\"]]", ""},
      {R"(["\u00e9\u65e5","\ud83d\ude00","tab\there"])", "[\"\xC3\xA9\xE6\x97\xA5\",\"\xF0\x9F\x98\x80\",\"tab\\there\"]"},
      {R"(["a\u0001b\u0000c\u001f\u007f"])", R"(["a\u0001b\u0000c\u001F\u007F"])"},
  };
  for (const auto& [sent, received] : cases) {
    SCOPED_TRACE(sent);
    ASSERT_EQ(client().put(api + section + "RT", data_body(sent)).raw, empty_success());
    EXPECT_EQ(client().get(api + section + "RT").raw, item_response("RT", received.empty() ? sent : received));
  }
  // Values item text cannot hold are refused whole, and the stored item stays as it was.
  EXPECT_EQ(client().put(api + section + "RT", data_body(R"(["A",42.50,true,null,"B"])")).status, 400);
  EXPECT_EQ(client().get(api + section + "RT").raw, item_response("RT", cases[std::size(cases) - 1].second));
  std::string big;
  for (int i = 0; big.size() < 300000; ++i) big += "line " + std::to_string(i) + " \xC3\xA9 ";
  const std::string data = "[" + json_quote(big) + ",[\"v1\",\"v2\"]]";
  ASSERT_EQ(client().put(api + section + "BIG", data_body(data)).raw, empty_success());
  EXPECT_EQ(client().get(api + section + "BIG").raw, item_response("BIG", data));
}

// Large items go to the store and come back in pieces, and the reply of a large item is kept
// while the account is unchanged: every write, also one of the same size, shows in the next
// read; a refused large body changes nothing.
TEST_F(File, LargeItemsInPiecesAndKeptRepliesFollowEveryWrite) {
  // Two-, three- and four-byte characters, marks and escapes across the 32 Ki-unit pieces.
  std::string big;
  for (int i = 0; big.size() < 1500000; ++i) {
    big.append(1, 'l').append(std::to_string(i)).append(" \xC3\xA9\xE6\x97\xA5\xF0\x9F\x98\x80 \\\"q\\\" ");
  }
  const auto array = [&](char variant) {
    std::string changed = big;
    changed[1] = variant;  // the same size, another text
    std::string out = "[\"";
    out.append(changed).append("\",[\"v1\",[\"s1\",\"s2\"]],\"").append(changed, 0, 70000);
    return out.append("\"]");
  };
  const std::string first = array('1');
  ASSERT_EQ(client().put(api + section + "LARGE", data_body(first)).raw, empty_success());
  EXPECT_EQ(client().get(api + section + "LARGE").raw, item_response("LARGE", first));
  EXPECT_EQ(client().get(api + section + "LARGE").raw, item_response("LARGE", first));
  const std::string second = array('2');
  ASSERT_EQ(client().put(api + section + "LARGE", data_body(second)).raw, empty_success());
  EXPECT_EQ(client().get(api + section + "LARGE").raw, item_response("LARGE", second));

  // Refused after the first megabyte: a number in the array, a malformed UTF-8 sequence.
  EXPECT_EQ(client().put(api + section + "LARGE", data_body(first.substr(0, first.size() - 1) + ",7]")).status, 400);
  std::string bad_utf8 = "[\"";
  bad_utf8.append(big).append("\xC3(\"]");
  EXPECT_EQ(client().put(api + section + "LARGE", data_body(bad_utf8)).status, 500);
  EXPECT_EQ(client().get(api + section + "LARGE").raw, item_response("LARGE", second));
}

TEST_F(File, PercentEncodedIdComesBackDecoded) {
  ASSERT_EQ(client().put(api + section + "A%20B%C3%A9%2B", data_body(R"(["x"])")).raw, empty_success());
  const std::string expected = item_response("A B\xC3\xA9+", R"(["x"])");
  EXPECT_EQ(client().get(api + section + "A%20B%C3%A9%2B").raw, expected);
  EXPECT_EQ(client().get(api + section + "A+B%c3%a9%2b").raw, expected);
  EXPECT_NE(client().get(api + "dir/" + customers).body.find("{\"id\":\"A B\xC3\xA9+\",\"attr\":0,\"size\":1}"),
            std::string::npos) << client().last().raw;
}

TEST_F(File, RefusedBodiesLeaveTheItemsUnchanged) {
  const std::string malformed = "Malformed JSON payload.";
  const std::pair<std::string, std::string> cases[] = {
      {"", rest_error(400, malformed)},
      {R"({"data":[[[["x"]]]]})", rest_error(400, "Malformed JSON array in 'data' property.")},
      {"{\"data\":[\"\xC3(\"]}", rest_error(500, "Unexpected exception")},
  };
  for (const auto& [body, expected] : cases) {
    SCOPED_TRACE(body);
    EXPECT_EQ(client().put(api + section + "C2", body).raw, expected);
    EXPECT_EQ(client().post(api + "create/" + customers + "/NEW", body).raw, expected);
  }
  EXPECT_EQ(client().get(api + section + "C2").raw, item_response("C2", c2_data));
  EXPECT_TRUE(is_host_error(client().get(api + section + "NEW"), 404, "202"));
}

// Update replaces or creates, in the master dictionary, a dictionary and a second section alike.
TEST_F(File, UpdateWritesEveryKindOfDirectory) {
  const std::string fresh = R"(["Bob Jones",["42","43"]])";
  expect_responses(client(), {
      {"PUT", section + "C2", data_body(fresh), empty_success()},
      {"GET", section + "C2", "", item_response("C2", fresh)},
      {"PUT", section + "FRESH?dir=true", data_body(R"(["n"])"), empty_success()},  // PUT ignores dir
      {"GET", section + "FRESH", "", item_response("FRESH", R"(["n"])")},
      {"PUT", "file/MAIN/GREETING", data_body(R"(["hi"])"), empty_success()},
      {"GET", "file/MD/GREETING", "", item_response("GREETING", R"(["hi"])")},
      {"PUT", "file/MAIN/CUSTOMERS/NAME", data_body(R"(["A","1"])"), empty_success()},
      {"GET", "file/MAIN/CUSTOMERS/NAME", "", item_response("NAME", R"(["A","1"])")},
      {"PUT", "file/MAIN/CUSTOMERS/HIST/H1", data_body(R"(["old"])"), empty_success()},
      {"GET", "file/MAIN/CUSTOMERS/HIST/H1", "", item_response("H1", R"(["old"])")},
  });
  EXPECT_TRUE(is_host_error(client().get(api + section + "NAME"), 404, "202"));
  EXPECT_TRUE(is_host_error(client().get(api + section + "H1"), 404, "202"));
}

// The dir option arrives as a QS_ line: from the query (name decoded, trimmed, upper-cased; the
// first of two wins) or from a URL-encoded form body of a POST; only "true" in any case refuses.
TEST_F(File, CreateStoresContentAndReadsTheDirOption) {
  const std::string create = "create/" + customers + "/";
  const std::string x = data_body(R"(["x"])");
  expect_responses(client(), {
      {"POST", create + "N1", data_body(R"(["new",["a","b"]])"), empty_success()},
      {"GET", section + "N1", "", item_response("N1", R"(["new",["a","b"]])")},
      {"POST", create + "D1?dir=true", x, rest_error(400, no_dirs)},
      {"POST", create + "D_yes?dir=yes", x, empty_success()},
      {"POST", create + "Q1?dir=no&dir=true", x, empty_success()},
      {"GET", section + "Q1", "", item_response("Q1", R"(["x"])")},
  });
  EXPECT_TRUE(is_host_error(client().post(api + create + "N1", x), 500, "204"));
  EXPECT_EQ(client().get(api + section + "N1").raw, item_response("N1", R"(["new",["a","b"]])"));
  EXPECT_TRUE(is_host_error(client().get(api + section + "D1"), 404, "202"));
  EXPECT_EQ(client().get(api + section + "D_yes").raw, item_response("D_yes", R"(["x"])"));
  const std::string form = "Content-Type: application/x-www-form-urlencoded";
  EXPECT_EQ(client().call("POST", api + create + "F1", "dir=true", {form}).raw, rest_error(400, no_dirs));
  EXPECT_EQ(client().call("POST", api + create + "F1", "dir=true", {"Content-Type: APPLICATION/X-WWW-FORM-URLENCODED"}).raw,
            rest_error(400, no_dirs));
  // With a charset parameter the body is not a form: it is read as JSON and is not JSON.
  EXPECT_EQ(client().call("POST", api + create + "F1", "dir=true", {form + "; charset=utf-8"}).raw,
            rest_error(400, "Malformed JSON payload."));
  EXPECT_TRUE(is_host_error(client().get(api + section + "F1"), 404, "202"));
}

TEST_F(File, DeleteAndHostRefusals) {
  EXPECT_EQ(client().del(api + section + "C3").raw, empty_success());
  EXPECT_TRUE(is_host_error(client().get(api + section + "C3"), 404, "202"));
  EXPECT_TRUE(is_host_error(client().del(api + section + "C3"), 404, "202"));
  EXPECT_EQ(client().get(api + section + "C2").raw, item_response("C2", c2_data));
  // A file pointer is not deleted.
  EXPECT_TRUE(is_host_error(client().del(api + "file/MAIN/CUSTOMERS"), 500, "207"));
  EXPECT_EQ(client().get(api + "dir/MAIN").raw, json_response(main_listing));
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/NOFILE/NOFILE/X"), 404, "200"));
  EXPECT_TRUE(is_host_error(client().put(api + "file/MAIN/NOFILE/NOFILE/X", data_body(R"(["a"])")), 404, "200"));
  // An empty item id (two slashes before the end) reaches the host, which refuses it.
  EXPECT_TRUE(is_host_error(client().get(api + "file/MAIN/CUSTOMERS//"), 404, "203"));
}

// One refusal of each route and code; root-name case and check order are pinned by item_path_test
// and item_actions_test.
TEST_F(File, PathRefusalsComeBeforeTheHost) {
  const std::string x = data_body(R"(["x"])");
  expect_responses(client(), {
      {"GET", "file", "", rest_error(400, name_missing, "200")},
      {"GET", "file/NOPE/X", "", rest_error(400, bad_root, "201")},
      {"GET", "file/MAIN/", "", rest_error(400, bad_path, "203")},
      {"PUT", "file/MAIN", x, rest_error(400, bad_path, "203")},
      {"POST", "create", x, rest_error(400, name_missing, "200")},
      {"DELETE", "file/MAIN/", "", rest_error(400, bad_path, "203")},
  });
}

}  // namespace
}  // namespace ombrix::e2e
