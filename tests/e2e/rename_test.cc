// Rename over real sockets: within a directory only, onto existing and identical ids, refusals.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string section = customers + "/";

class Rename : public client_test {
 protected:
  bool missing(const std::string& path) { return is_host_error(client().get(api + "file/" + path), 404, "202"); }
};

TEST_F(Rename, MovesTheContentWithinEachKindOfDirectory) {
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/NAME", R"({"data":["D","1"]})").raw, empty_success());
  ASSERT_EQ(client().put(api + "file/MAIN/GREETING", R"({"data":["hi",["a","b"]]})").raw, empty_success());
  const std::string c3_data = "[\"Cl\xC3\xA9o Dupr\xC3\xA9\"]";
  struct {
    std::string old_path, query, new_path, new_id, data;
  } const cases[] = {
      {section + "C1", "newname=" + section + "C9", section + "C9", "C9", c1_data},
      {"MAIN/CUSTOMERS/NAME", "newname=MAIN/CUSTOMERS/FULLNAME", "MAIN/CUSTOMERS/FULLNAME", "FULLNAME", R"(["D","1"])"},
      {"MAIN/GREETING", "newname=MAIN/WELCOME", "MD/WELCOME", "WELCOME", R"(["hi",["a","b"]])"},
      {section + "C2", "newname=" + section + "C8/", section + "C8", "C8", c2_data},  // trailing slash
      {section + "C3", "newname=MAIN%2FCUSTOMERS%2FCUSTOMERS%2FC%C3%A9+2", section + "C%C3%A9%202", "C\xC3\xA9 2", c3_data},
      {section + "C9", "NEWNAME=" + section + "C7", section + "C7", "C7", c1_data},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.old_path + "?" + c.query);
    EXPECT_EQ(client().get(api + "rename/" + c.old_path + "?" + c.query).raw, empty_success());
    EXPECT_EQ(client().get(api + "file/" + c.new_path).raw, item_response(c.new_id, c.data));
    EXPECT_TRUE(missing(c.old_path));
  }
}

TEST_F(Rename, RefusalsChangeNothing) {
  // An empty or absent newname is pinned by rename_action_test; these are real directories.
  for (const std::string& query : std::vector<std::string>{"?newname=MAIN/BP/BP/C5", "?newname=MAIN/CUSTOMERS/HIST/C5", "?newname=C5",
                            "?newname=MAIN/CUSTOMERS/C5", "?newname=" + section + "C5/X",
                            "?newname=MD/CUSTOMERS/CUSTOMERS/C5", "?newname=main/CUSTOMERS/CUSTOMERS/C5", ""}) {
    EXPECT_EQ(client().get(api + "rename/" + section + "C1" + query).raw, rest_error(400, move_refused)) << query;
  }
  expect_responses(client(), {
      {"GET", "rename?newname=MAIN/X", "", rest_error(400, "Old file name missing from URL path.", "200")},
      {"GET", "rename/NOPE/X?newname=NOPE/Y", "", rest_error(400, "Old MD, VOC or account name is not valid.", "201")},
      {"GET", "rename/MAIN?newname=MAIN", "", rest_error(400, "Old file name or item ID missing from URL path.", "203")},
  });
  // Onto an existing id: the host refuses and both items stay; onto the same id: nothing changes.
  EXPECT_TRUE(is_host_error(client().get(api + "rename/" + section + "C1?newname=" + section + "C2"), 500, "204"));
  EXPECT_EQ(client().get(api + "rename/" + section + "C1?newname=" + section + "C1").raw, empty_success());
  for (std::string id : {"C5", "NOPE"}) {
    EXPECT_TRUE(is_host_error(client().get(api + "rename/" + section + "NOPE?newname=" + section + id), 404, "202"));
  }
  // The MD pointer of a file cannot be deleted, so it cannot be renamed: the refusal used to come
  // after the copy had been made, leaving a second pointer behind.
  EXPECT_TRUE(is_host_error(client().get(api + "rename/MAIN/CUSTOMERS?newname=MAIN/CLIENTS"), 500, "207"));
  EXPECT_TRUE(missing("MAIN/CLIENTS"));
  EXPECT_EQ(client().get(api + "stat/MAIN/CUSTOMERS").raw, json_response(R"({"attr":16,"size":0})"));
  EXPECT_EQ(client().get(api + "file/" + section + "C1").raw, item_response("C1", c1_data));
  EXPECT_EQ(client().get(api + "file/" + section + "C2").raw, item_response("C2", c2_data));
  for (const std::string& path : std::vector<std::string>{section + "C5", "MAIN/BP/BP/C5", "MAIN/CUSTOMERS/HIST/C5"}) EXPECT_TRUE(missing(path)) << path;
}

}  // namespace
}  // namespace ombrix::e2e
