#include "rest/item_path.h"

#include <stdexcept>
#include <tuple>

#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

using segments = std::vector<std::string>;
const kelm_info session{"SALES**test", "SALES", "MD"};

TEST(item_path_test, ResolvesPathsByNumberOfSegments) {
  // item: resolve_item_path; directory: resolve_directory_path.
  const struct { segments rest; std::optional<item_path> item; std::optional<text> directory; } cases[] = {
      {{}, std::nullopt, std::nullopt},
      {{"MD"}, std::nullopt, u"MD"},
      {{"anything", "X"}, item_path{u"MD", u"X"}, u"DICT X"},  // the root is is_root_name's
      {{"MD", "CUSTOMERS", "C1"}, item_path{u"DICT CUSTOMERS", u"C1"}, u"CUSTOMERS,C1"},
      {{"MD", "CUST", "CUST", "C1"}, item_path{u"CUST", u"C1"}, std::nullopt},
      {{"MD", "A", "B", "C", "D"}, std::nullopt, std::nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.rest));
    const std::optional<item_path> path = resolve_item_path(c.rest, session);
    ASSERT_EQ(path.has_value(), c.item.has_value());
    if (path) {
      EXPECT_EQ(path->file, c.item->file);
      EXPECT_EQ(path->item, c.item->item);
    }
    EXPECT_EQ(resolve_directory_path(c.rest, session), c.directory);
  }
  EXPECT_THROW(resolve_item_path({"MD", "\x80"}, session), std::range_error);
  EXPECT_THROW(resolve_directory_path({"MD", "F", "\xC3\x41"}, session), std::range_error);
}

// The root is the master dictionary or the account; -c lets it, and only it, ignore case.
TEST(item_path_test, CheckedPathsTestTheRootThenResolve) {
  for (const auto& [segment, ignore_case, root] : std::vector<std::tuple<std::string, bool, bool>>{
           {"MD", false, true}, {"SALES", false, true}, {"md", false, false}, {"md", true, true}, {"sAlEs", true, true},
           {"VOC", true, false}}) {
    EXPECT_EQ(is_root_name(segment, session, settings{.case_insensitive = ignore_case}), root) << segment;
  }
  settings config{.case_insensitive = true};
  std::string reply = "untouched";
  const std::optional<item_path> path =
      checked_item_path(path_action::read, {"sales", "CUST", "cust", "X"}, session, config, reply);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->file, u"CUST,cust");
  EXPECT_EQ(path->item, u"X");
  EXPECT_EQ(checked_directory_path({"md", "CUST", "CUST"}, session, config, reply), text(u"CUST"));
  EXPECT_EQ(reply, "untouched");
}

TEST(item_path_test, RefusalsCarryTheActionsCodeMessageAndDiagnostic) {
  const char no_file[] = "File name missing from URL path.";
  const char bad_root[] = "File MD, VOC or account name is not valid.";
  // action: nullopt for the directory check; diagnostic: the line on standard error, without its end.
  const struct { std::optional<path_action> action; segments rest; std::string code, message, diagnostic; } cases[] = {
      {path_action::read, {}, "200", no_file, "file name missing for read: "},
      {path_action::read, {"sales", "X"}, "201", bad_root, "invalid MD/VOC for read: sales/X"},
      {path_action::read, {"MD"}, "203", "File name or item ID missing from URL path.", "invalid path for read: MD"},
      {path_action::update_create, {"VOC", "X"}, "201", bad_root, "invalid MD/VOC for update/create: VOC/X"},
      {path_action::rename, {"OTHER", "X"}, "201", "Old MD, VOC or account name is not valid.",
       "invalid MD/VOC for rename: OTHER/X"},
      {path_action::rename, {"MD"}, "203", "Old file name or item ID missing from URL path.",
       "invalid old path for rename: MD"},
      {std::nullopt, {"ACCOUNT"}, "201", bad_root, "invalid MD/VOC for dir: ACCOUNT"},
      {std::nullopt, {"MD", "A", "B", "C"}, "200", no_file, "invalid path for dir: MD/A/B/C"},
  };
  for (int level : {0, 1}) {
    const settings config{.debug_level = level};
    for (const auto& c : cases) {
      SCOPED_TRACE(c.diagnostic + " at level " + std::to_string(level));
      std::string reply = "left over";
      bool accepted = true;
      const std::string diagnostics = stderr_of([&] {
        accepted = c.action ? checked_item_path(*c.action, c.rest, session, config, reply).has_value()
                            : checked_directory_path(c.rest, session, config, reply).has_value();
      });
      EXPECT_FALSE(accepted);
      EXPECT_EQ(reply, error_reply(400, c.message, c.code));
      EXPECT_EQ(diagnostics, level == 0 ? "" : c.diagnostic + "\n");
    }
  }
}

}  // namespace
}  // namespace ombrix
