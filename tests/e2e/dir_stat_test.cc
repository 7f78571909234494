// Directory listing and stat over real sockets against the embedded host.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

// Sizes of the seeded items: UTF-8 bytes with CR LF between attributes, marks 3 bytes each.
constexpr int c1_size = 11 + 2 + 9 + 3 + 6 + 2 + 1 + 3 + 1 + 3 + 1;  // 42
constexpr int c2_size = 9 + 2 + 2;                                 // "Bob Jones" CR LF "42"
constexpr int c3_size = 12;                                        // "Cléo Dupré"

const std::string main_root = R"({"items":[{"id":"BP","attr":16},{"id":"CUSTOMERS","attr":16},{"id":"MD","attr":16}]})";
const std::string customers_section =
    "{\"items\":[{\"id\":\"C1\",\"attr\":0,\"size\":" + std::to_string(c1_size) +
    "},{\"id\":\"C2\",\"attr\":0,\"size\":" + std::to_string(c2_size) +
    "},{\"id\":\"C3\",\"attr\":0,\"size\":" + std::to_string(c3_size) + "}]}";

class DirStatTest : public server_test {
 protected:
  void SetUp() override {
    server_test::SetUp();
    client_ = std::make_unique<rest_client>(logged_in());
  }
  rest_client& client() { return *client_; }
  std::unique_ptr<rest_client> client_;
};

struct listing_case {
  const char* name;
  std::string target;  // after "dir/"
  std::string json;
};

void PrintTo(const listing_case& c, std::ostream* out) { *out << c.name; }

class Listing : public DirStatTest, public ::testing::WithParamInterface<listing_case> {};

TEST_P(Listing, ListsExactly) {
  // A dictionary item so that DICT CUSTOMERS holds items besides its sections.
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/NAME", R"({"data":["D","1"]})").raw,
            empty_success());
  EXPECT_EQ(client().get(api + "dir/" + GetParam().target).raw, json_response(GetParam().json));
}

INSTANTIATE_TEST_SUITE_P(
    Directories, Listing,
    ::testing::Values(
        listing_case{"MasterDictionaryByAccountName", "MAIN", main_root},
        listing_case{"MasterDictionaryByItsName", "MD", main_root},
        listing_case{"MasterDictionaryTrailingSlash", "MAIN/", main_root},
        listing_case{"Dictionary", "MAIN/CUSTOMERS",
                     R"({"items":[{"id":"CUSTOMERS","attr":16},{"id":"HIST","attr":16},)"
                     R"({"id":"NAME","attr":0,"size":4}]})"},
        listing_case{"DictionaryDirectoriesOnly", "MAIN/CUSTOMERS?attr=16",
                     R"({"items":[{"id":"CUSTOMERS","attr":16},{"id":"HIST","attr":16}]})"},
        listing_case{"DataSection", "MAIN/CUSTOMERS/CUSTOMERS", customers_section},
        listing_case{"SecondSectionEmpty", "MAIN/CUSTOMERS/HIST", R"({"items":[]})"},
        listing_case{"MaxItems", "MAIN/CUSTOMERS/CUSTOMERS?max_items=2",
                     "{\"items\":[{\"id\":\"C1\",\"attr\":0,\"size\":" + std::to_string(c1_size) +
                         "},{\"id\":\"C2\",\"attr\":0,\"size\":" + std::to_string(c2_size) + "}]}"},
        listing_case{"UnreadableAttrCountsAsZero", "MAIN/CUSTOMERS/CUSTOMERS?attr=abc&MAX_ITEMS=1",
                     "{\"items\":[{\"id\":\"C1\",\"attr\":0,\"size\":" + std::to_string(c1_size) + "}]}"},
        listing_case{"DirectoriesOnlyInDataSection", "MAIN/CUSTOMERS/CUSTOMERS?attr=16",
                     R"({"items":[]})"},
        listing_case{"OtherFile", "MD/BP/BP", R"({"items":[{"id":"HELLO","attr":0,"size":18}]})"}),
    [](const ::testing::TestParamInfo<listing_case>& info) { return std::string(info.param.name); });

TEST_F(DirStatTest, ListingFollowsWritesRenamesAndDeletes) {
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C0", R"({"data":["zero"]})").raw,
            empty_success());
  ASSERT_EQ(client().get(api + "rename/MAIN/CUSTOMERS/CUSTOMERS/C2?newname=MAIN/CUSTOMERS/CUSTOMERS/C9").raw,
            empty_success());
  ASSERT_EQ(client().del(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C3").raw, empty_success());
  EXPECT_EQ(client().get(api + "dir/MAIN/CUSTOMERS/CUSTOMERS").raw,
            json_response("{\"items\":[{\"id\":\"C0\",\"attr\":0,\"size\":4},"
                          "{\"id\":\"C1\",\"attr\":0,\"size\":" + std::to_string(c1_size) + "},"
                          "{\"id\":\"C9\",\"attr\":0,\"size\":" + std::to_string(c2_size) + "}]}"));
}

TEST_F(DirStatTest, ListingRefusals) {
  EXPECT_EQ(client().get(api + "dir").raw,
            rest_error(400, "File name missing from URL path.", "200"));
  EXPECT_EQ(client().get(api + "dir/NOPE").raw,
            rest_error(400, "File MD, VOC or account name is not valid.", "201"));
  EXPECT_EQ(client().get(api + "dir/MAIN/CUSTOMERS/CUSTOMERS/C1").raw,
            rest_error(400, "File name missing from URL path.", "200"));
  http_response missing = client().get(api + "dir/MAIN/NOFILE");
  EXPECT_EQ(missing.status, 404);
  EXPECT_TRUE(missing.body.ends_with(R"(","code":"200"})")) << missing.raw;
}

struct stat_case {
  const char* name;
  std::string target;  // after "stat/"
  std::string json;
};

void PrintTo(const stat_case& c, std::ostream* out) { *out << c.name; }

class Stat : public DirStatTest, public ::testing::WithParamInterface<stat_case> {};

TEST_P(Stat, ReportsAttributesAndSize) {
  EXPECT_EQ(client().get(api + "stat/" + GetParam().target).raw, json_response(GetParam().json));
}

INSTANTIATE_TEST_SUITE_P(
    Entries, Stat,
    ::testing::Values(
        stat_case{"Item", "MAIN/CUSTOMERS/CUSTOMERS/C1",
                  "{\"attr\":0,\"size\":" + std::to_string(c1_size) + "}"},
        stat_case{"Utf8Item", "MAIN/CUSTOMERS/CUSTOMERS/C3",
                  "{\"attr\":0,\"size\":" + std::to_string(c3_size) + "}"},
        stat_case{"FilePointerInMasterDictionary", "MAIN/CUSTOMERS", R"({"attr":16,"size":0})"},
        stat_case{"DefaultSectionInDictionary", "MAIN/CUSTOMERS/CUSTOMERS", R"({"attr":16,"size":0})"},
        stat_case{"SecondSectionInDictionary", "MD/CUSTOMERS/HIST", R"({"attr":16,"size":0})"}),
    [](const ::testing::TestParamInfo<stat_case>& info) { return std::string(info.param.name); });

TEST_F(DirStatTest, StatSizeCountsUtf8BytesOfEmoji) {
  // U+1F600 is 4 bytes, U+00E9 2 bytes, CR LF 2.
  ASSERT_EQ(client().put(api + "file/MAIN/CUSTOMERS/CUSTOMERS/E1",
                         "{\"data\":[\"\xF0\x9F\x98\x80\xC3\xA9\",\"a\"]}").raw,
            empty_success());
  EXPECT_EQ(client().get(api + "stat/MAIN/CUSTOMERS/CUSTOMERS/E1").raw,
            json_response(R"({"attr":0,"size":9})"));
}

TEST_F(DirStatTest, StatRefusalsAndMissingItem) {
  EXPECT_EQ(client().get(api + "stat").raw, rest_error(400, "File name missing from URL path.", "200"));
  EXPECT_EQ(client().get(api + "stat/NOPE/X").raw,
            rest_error(400, "File MD, VOC or account name is not valid.", "201"));
  EXPECT_EQ(client().get(api + "stat/MAIN").raw,
            rest_error(400, "File name or item ID missing from URL path.", "203"));
  http_response missing = client().get(api + "stat/MAIN/CUSTOMERS/CUSTOMERS/NOPE");
  EXPECT_EQ(missing.status, 404);
  EXPECT_TRUE(missing.body.ends_with(R"(","code":"202"})")) << missing.raw;
}

}  // namespace
}  // namespace ombrix::e2e
