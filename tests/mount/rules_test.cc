#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include "mount/path_layout.h"
#include "mount/rest_errors.h"
#include "mount/scratch_names.h"

namespace ombrix::mount {
namespace {

TEST(scratch_names, editor_files_are_scratch_and_items_are_not) {
  for (const char* name : {".C1.swp", ".C1.swx", ".#C1", "#C1#", "4913", "5036", "5159"}) EXPECT_TRUE(is_scratch_name(name)) << name;
  for (const char* name : {"C1", "C1~", ".env", ".swp", ".a.sw1", ".#", "4914", "1001", "04913", "#", "##", "a#b#", "C1.swp", "", ".C1.swp~"}) {
    EXPECT_FALSE(is_scratch_name(name)) << name;
  }
}

TEST(rest_errors, replies_map_to_errno) {
  const struct { int status; const char* code; int error; } cases[] = {{200, "", 0}, {0, "", EIO}, {404, "202", ENOENT}, {404, "204", EEXIST}, {404, "200", ENOENT}, {404, "203", ENOENT},
               {400, "201", EINVAL}, {400, "", EINVAL}, {401, "", EACCES}, {500, "999", EIO}, {404, "", ENOENT}, {412, "", ESTALE}};
  for (const auto& c : cases) EXPECT_EQ(errno_for_reply(c.status, c.code), c.error) << c.status << " " << c.code;
  EXPECT_EQ(code_of_reply(R"({"status":404,"message":"Item 'C1' not found.","code":"202"})"), "202");
  EXPECT_EQ(code_of_reply(R"({"status":400,"message":"x","code":""})"), "");
  EXPECT_EQ(code_of_reply(""), "");
}

TEST(path_layout, mount_paths_split_into_names_and_rest_paths_encode_each_segment) {
  using names = std::vector<std::string>;
  EXPECT_EQ(split_mount_path("/"), names{});
  EXPECT_EQ(split_mount_path("/CUST/CUST/C1"), (names{"CUST", "CUST", "C1"}));
  for (const char* bad : {"", "CUST", "/a/b/c/d", "/a//b", "/a/../b", "/a/"}) EXPECT_FALSE(split_mount_path(bad).has_value()) << bad;
  EXPECT_EQ(rest_path("MAIN", {}), "MAIN");
  EXPECT_EQ(rest_path("MAIN", {"CUST", "HIST", "C 1"}), "MAIN/CUST/HIST/C%201");
  EXPECT_EQ(encode_segment("a%b?c#\xC3\xA9"), "a%25b%3Fc%23%C3%A9");
}

// Ids a URL path cannot carry go as the query parameter id; the names a listing shows for them
// (the admin export's escaped file names) map back to the same ids.
TEST(path_layout, odd_ids_travel_as_a_parameter_and_their_names_map_back) {
  const struct { const char *id, *name, *rest; } cases[] = {{"C1", "C1", "M/F/F/C1"}, {".", "%%2E", "M/F/F?id=."}, {"..", "%%2E%2E", "M/F/F?id=.."}, {"a/b", "%a%2Fb", "M/F/F?id=a%2Fb"},
               {"a\\b", "%a%5Cb", "M/F/F?id=a%5Cb"}, {"%x", "%%25x", "M/F/F?id=%25x"}, {"t\x01", "%t%01", "M/F/F?id=t%01"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.id);
    EXPECT_EQ(item_rest_path("M", {"F", "F", c.id}), c.rest);
    EXPECT_EQ(ids_of_names({"F", "F", c.name}), (std::vector<std::string>{"F", "F", c.id}));
  }
  EXPECT_FALSE(ids_of_names({"F", "%%zz"}).has_value());
  EXPECT_EQ(with_query("dir/M", "data=1"), "dir/M?data=1");
  EXPECT_EQ(with_query("file/M?id=.", "etag=1"), "file/M?id=.&etag=1");
}

}  // namespace
}  // namespace ombrix::mount
