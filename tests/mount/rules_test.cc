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
  const struct {
    const char* name;
    bool scratch;
  } cases[] = {
      {".C1.swp", true}, {".C1.swx", true}, {"C1~", true},      {"#C1#", true},
      {"4913", true},    {"5036", true},    {"5159", true},     {"C1", false},
      {"4914", false},   {"1001", false},   {"04913", false},   {"#", false},
      {"##", false},     {"a#b#", false},   {"C1.swp", false},  {"", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(is_scratch_name(c.name), c.scratch);
  }
}

TEST(rest_errors, replies_map_to_errno) {
  const struct {
    int status;
    const char* code;
    int error;
  } cases[] = {
      {200, "", 0},          {0, "", EIO},          {404, "202", ENOENT}, {404, "204", EEXIST},
      {404, "200", ENOENT},  {404, "203", ENOENT},  {400, "201", EINVAL}, {400, "", EINVAL},
      {401, "", EACCES},     {500, "999", EIO},     {404, "", ENOENT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.status) + " " + c.code);
    EXPECT_EQ(errno_for_reply(c.status, c.code), c.error);
  }
}

TEST(rest_errors, code_is_read_from_an_error_reply) {
  EXPECT_EQ(code_of_reply(R"({"status":404,"message":"Item 'C1' not found.","code":"202"})"),
            "202");
  EXPECT_EQ(code_of_reply(R"({"status":400,"message":"x","code":""})"), "");
  EXPECT_EQ(code_of_reply(""), "");
}

TEST(path_layout, mount_paths_split_into_names) {
  using names = std::vector<std::string>;
  EXPECT_EQ(split_mount_path("/"), names{});
  EXPECT_EQ(split_mount_path("/MD"), names{"MD"});
  EXPECT_EQ(split_mount_path("/CUST/CUST/C1"), (names{"CUST", "CUST", "C1"}));
  for (const char* bad : {"", "CUST", "/a/b/c/d", "/a//b", "/a/../b", "/a/"}) {
    SCOPED_TRACE(bad);
    EXPECT_FALSE(split_mount_path(bad).has_value());
  }
}

TEST(path_layout, rest_path_encodes_each_segment) {
  EXPECT_EQ(rest_path("MAIN", {}), "MAIN");
  EXPECT_EQ(rest_path("MAIN", {"CUST", "HIST", "C 1"}), "MAIN/CUST/HIST/C%201");
  EXPECT_EQ(encode_segment("a%b?c#\xC3\xA9"), "a%25b%3Fc%23%C3%A9");
}

}  // namespace
}  // namespace ombrix::mount
