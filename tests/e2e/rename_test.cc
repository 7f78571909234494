// Rename over real sockets: within a directory only, onto existing and identical ids, refusals.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string move_refused =
    "'move' is not supported for 'rename' (new and old directory must be the same).";
const std::string c1_data = R"(["Alice Smith",["Main St 1","Flat 2"],[["X","Y"],"Z"]])";
const std::string c2_data = R"(["Bob Jones","42"])";

std::string item_json(std::string_view id, std::string_view data) {
  return "{\"id\":" + json_quote(id) + ",\"type\":\"array\",\"data\":" + std::string(data) + "}";
}

class RenameTest : public server_test {
 protected:
  void SetUp() override {
    server_test::SetUp();
    client_ = std::make_unique<rest_client>(logged_in());
  }
  rest_client& client() { return *client_; }

  // The response to GET file of `path`, or its status and code when it is an error.
  std::string read(std::string_view path) { return client().get(api + "file/" + std::string(path)).raw; }
  bool missing(std::string_view path) {
    http_response response = client().get(api + "file/" + std::string(path));
    return response.status == 404 && response.body.ends_with(R"(","code":"202"})");
  }

  std::unique_ptr<rest_client> client_;
};

struct rename_case {
  const char* name;
  std::string old_path;  // after "rename/"
  std::string query;     // the whole query string
  std::string new_path;  // the path that must hold the item afterwards (after "file/")
  std::string new_id;
};

void PrintTo(const rename_case& c, std::ostream* out) { *out << c.name; }

class RenameWithin : public RenameTest, public ::testing::WithParamInterface<rename_case> {};

TEST_P(RenameWithin, MovesTheContentToTheNewId) {
  const rename_case& c = GetParam();
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/NAME", R"({"data":["D","1"]})").raw, empty_success());
  ASSERT_EQ(client().put(api + "file/MAIN/GREETING", R"({"data":["hi",["a","b"]]})").raw, empty_success());
  std::string before = client().get(api + "file/" + c.old_path).body;
  ASSERT_EQ(parse_response(read(c.old_path)).status, 200);
  std::string data = before.substr(before.find("\"data\":") + 7);
  data = data.substr(0, data.size() - 3);  // drop the closing brace and CR LF

  EXPECT_EQ(client().get(api + "rename/" + c.old_path + "?" + c.query).raw, empty_success());
  EXPECT_EQ(read(c.new_path), json_response(item_json(c.new_id, data)));
  EXPECT_TRUE(missing(c.old_path));
}

INSTANTIATE_TEST_SUITE_P(
    Directories, RenameWithin,
    ::testing::Values(
        rename_case{"DataSection", "MAIN/CUSTOMERS/CUSTOMERS/C1", "newname=MAIN/CUSTOMERS/CUSTOMERS/C9",
                    "MAIN/CUSTOMERS/CUSTOMERS/C9", "C9"},
        rename_case{"Dictionary", "MAIN/CUSTOMERS/NAME", "newname=MAIN/CUSTOMERS/FULLNAME",
                    "MAIN/CUSTOMERS/FULLNAME", "FULLNAME"},
        rename_case{"MasterDictionary", "MAIN/GREETING", "newname=MAIN/WELCOME", "MD/WELCOME", "WELCOME"},
        rename_case{"TrailingSlash", "MAIN/CUSTOMERS/CUSTOMERS/C2", "newname=MAIN/CUSTOMERS/CUSTOMERS/C8/",
                    "MAIN/CUSTOMERS/CUSTOMERS/C8", "C8"},
        rename_case{"EncodedNewName", "MAIN/CUSTOMERS/CUSTOMERS/C2",
                    "newname=MAIN%2FCUSTOMERS%2FCUSTOMERS%2FC%C3%A9+2", "MAIN/CUSTOMERS/CUSTOMERS/C%C3%A9%202",
                    "C\xC3\xA9 2"},
        rename_case{"UpperCaseParameterName", "MAIN/CUSTOMERS/CUSTOMERS/C1",
                    "NEWNAME=MAIN/CUSTOMERS/CUSTOMERS/C7", "MAIN/CUSTOMERS/CUSTOMERS/C7", "C7"}),
    [](const ::testing::TestParamInfo<rename_case>& info) { return std::string(info.param.name); });

class RenameMoveRefused : public RenameTest, public ::testing::WithParamInterface<std::string> {};

TEST_P(RenameMoveRefused, RefusesAndChangesNothing) {
  std::string before = read("MAIN/CUSTOMERS/CUSTOMERS/C1");
  EXPECT_EQ(client().get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C1" + GetParam()).raw,
            rest_error(400, move_refused));
  EXPECT_EQ(read("MAIN/CUSTOMERS/CUSTOMERS/C1"), before);
  EXPECT_TRUE(missing("MAIN/CUSTOMERS/CUSTOMERS/C5"));
  EXPECT_TRUE(missing("MAIN/BP/BP/C5"));
  EXPECT_TRUE(missing("MAIN/CUSTOMERS/HIST/C5"));
}

INSTANTIATE_TEST_SUITE_P(NewNames, RenameMoveRefused,
                         ::testing::Values("?newname=MAIN/BP/BP/C5",             // other file
                                           "?newname=MAIN/CUSTOMERS/HIST/C5",    // other section
                                           "?newname=C5",                        // one segment
                                           "?newname=MAIN/CUSTOMERS/C5",         // fewer segments
                                           "?newname=MAIN/CUSTOMERS/CUSTOMERS/C5/X",  // more
                                           "?newname=MD/CUSTOMERS/CUSTOMERS/C5",  // other root name
                                           "?newname=main/CUSTOMERS/CUSTOMERS/C5",  // root case
                                           "?newname=", "", "?other=1"));

TEST_F(RenameTest, OldPathRefusals) {
  EXPECT_EQ(client().get(api + "rename?newname=MAIN/X").raw,
            rest_error(400, "Old file name missing from URL path.", "200"));
  EXPECT_EQ(client().get(api + "rename/NOPE/X?newname=NOPE/Y").raw,
            rest_error(400, "Old MD, VOC or account name is not valid.", "201"));
  EXPECT_EQ(client().get(api + "rename/MAIN?newname=MAIN").raw,
            rest_error(400, "Old file name or item ID missing from URL path.", "203"));
}

TEST_F(RenameTest, OntoAnExistingIdIsRefusedAndBothItemsStay) {
  http_response response =
      client().get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C1?newname=MAIN/CUSTOMERS/CUSTOMERS/C2");
  EXPECT_EQ(response.status, 500) << response.raw;
  EXPECT_TRUE(response.body.ends_with(R"(","code":"204"})")) << response.raw;
  EXPECT_EQ(read("MAIN/CUSTOMERS/CUSTOMERS/C1"), json_response(item_json("C1", c1_data)));
  EXPECT_EQ(read("MAIN/CUSTOMERS/CUSTOMERS/C2"), json_response(item_json("C2", c2_data)));
}

TEST_F(RenameTest, ToTheSameIdSucceedsAndKeepsTheItem) {
  EXPECT_EQ(client().get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C1?newname=MAIN/CUSTOMERS/CUSTOMERS/C1").raw,
            empty_success());
  EXPECT_EQ(read("MAIN/CUSTOMERS/CUSTOMERS/C1"), json_response(item_json("C1", c1_data)));
}

TEST_F(RenameTest, MissingItemIsNotFound) {
  for (std::string newname : {"MAIN/CUSTOMERS/CUSTOMERS/C5", "MAIN/CUSTOMERS/CUSTOMERS/NOPE"}) {
    http_response response = client().get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/NOPE?newname=" + newname);
    EXPECT_EQ(response.status, 404) << response.raw;
    EXPECT_TRUE(response.body.ends_with(R"(","code":"202"})")) << response.raw;
  }
  EXPECT_TRUE(missing("MAIN/CUSTOMERS/CUSTOMERS/C5"));
}

}  // namespace
}  // namespace ombrix::e2e
