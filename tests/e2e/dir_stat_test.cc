// Directory listing and stat over real sockets against the embedded host.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

// Sizes of the seeded items: UTF-8 bytes with CR LF between attributes, marks 3 bytes each.
const std::string c1_size = std::to_string(11 + 2 + 9 + 3 + 6 + 2 + 1 + 3 + 1 + 3 + 1);  // 42
const std::string c2_size = std::to_string(9 + 2 + 2);  // "Bob Jones" CR LF "42"
const std::string c3_size = "12";                       // "Cléo Dupré"

std::string entry(std::string_view id, const std::string& size) {
  return "{\"id\":\"" + std::string(id) + "\",\"attr\":0,\"size\":" + size + "}";
}

using DirStat = client_test;

TEST_F(DirStat, ListsAndStatsExactly) {
  // A dictionary item so that DICT CUSTOMERS holds items besides its sections.
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/NAME", R"({"data":["D","1"]})").raw, empty_success());
  auto items = [](std::string list) { return json_response("{\"items\":[" + list + "]}"); };
  const std::string sections = R"({"id":"CUSTOMERS","attr":16},{"id":"HIST","attr":16})";
  const std::string directory = json_response(R"({"attr":16,"size":0})");
  expect_responses(client(), {
      {"GET", "dir/MAIN", "", json_response(main_listing)},
      {"GET", "dir/MD", "", json_response(main_listing)},
      {"GET", "dir/MAIN/CUSTOMERS", "", items(sections + ",{\"id\":\"NAME\",\"attr\":0,\"size\":4}")},
      {"GET", "dir/MAIN/CUSTOMERS?attr=16", "", items(sections)},
      {"GET", "dir/" + customers, "", items(entry("C1", c1_size) + "," + entry("C2", c2_size) + "," + entry("C3", c3_size))},
      {"GET", "dir/MAIN/CUSTOMERS/HIST", "", items("")},
      {"GET", "dir/" + customers + "?max_items=2", "", items(entry("C1", c1_size) + "," + entry("C2", c2_size))},
      {"GET", "dir/MD/BP/BP", "", items(entry("HELLO", "18"))},
      {"GET", "stat/" + customers + "/C1", "", json_response("{\"attr\":0,\"size\":" + c1_size + "}")},
      {"GET", "stat/MAIN/CUSTOMERS", "", directory},
      {"GET", "stat/" + customers, "", directory},
      {"GET", "dir", "", rest_error(400, name_missing, "200")},
      {"GET", "dir/NOPE", "", rest_error(400, bad_root, "201")},
      {"GET", "dir/" + customers + "/C1", "", rest_error(400, name_missing, "200")},
      {"GET", "stat/MAIN", "", rest_error(400, bad_path, "203")},
  });
  EXPECT_TRUE(is_host_error(client().get(api + "dir/MAIN/NOFILE"), 404, "200"));
  EXPECT_TRUE(is_host_error(client().get(api + "stat/" + customers + "/NOPE"), 404, "202"));
}

TEST_F(DirStat, FollowsWritesRenamesAndDeletesAndCountsUtf8Bytes) {
  ASSERT_EQ(client().put(api + "file/" + customers + "/C0", R"({"data":["zero"]})").raw, empty_success());
  ASSERT_EQ(client().get(api + "rename/" + customers + "/C2?newname=" + customers + "/C9").raw, empty_success());
  ASSERT_EQ(client().del(api + "file/" + customers + "/C3").raw, empty_success());
  EXPECT_EQ(client().get(api + "dir/" + customers).raw,
            json_response("{\"items\":[" + entry("C0", "4") + "," + entry("C1", c1_size) + "," +
                          entry("C9", c2_size) + "]}"));
  // U+1F600 is 4 bytes, U+00E9 2 bytes, CR LF 2.
  ASSERT_EQ(client().put(api + "file/" + customers + "/E1", "{\"data\":[\"\xF0\x9F\x98\x80\xC3\xA9\",\"a\"]}").raw,
            empty_success());
  EXPECT_EQ(client().get(api + "stat/" + customers + "/E1").raw, json_response(R"({"attr":0,"size":9})"));
}

}  // namespace
}  // namespace ombrix::e2e
