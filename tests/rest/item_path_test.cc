#include "rest/item_path.h"

#include <gtest/gtest.h>

#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

using segments = std::vector<std::string>;

const kelm_info session{"SALES**test", "SALES", "MD"};

struct root_case {
  std::string segment;
  bool ignore_case;
  bool expected;
};

TEST(item_path_test, RootNameIsTheMasterDictionaryOrTheAccount) {
  const root_case cases[] = {
  };
  for (const root_case& c : cases) {
    const settings config{.case_insensitive = c.ignore_case};
    EXPECT_EQ(is_root_name(c.segment, session, config), c.expected)
        << "segment '" << c.segment << "' ignore_case " << c.ignore_case;
  }
}

struct item_case {
  segments rest;
  bool ignore_case;
  std::optional<item_path> expected;
};

TEST(item_path_test, ResolvesItemPathsByNumberOfSegments) {
  const item_case cases[] = {
      {{"MD", "X"}, false, item_path{u"MD", u"X"}},
      // The first segment is left to is_root_name.
      {{"anything", "X"}, false, item_path{u"MD", u"X"}},
      {{"MD", "CUSTOMERS", "C1"}, false, item_path{u"DICT CUSTOMERS", u"C1"}},
      {{"MD", "CUSTOMERS", "HIST", "C1"}, false, item_path{u"CUSTOMERS,HIST", u"C1"}},
      // F and D are compared exactly, also when the root check ignores case.
      {{"MD", "cust", "CUST", "I"}, true, item_path{u"cust,CUST", u"I"}},
      // Empty segments are not refused; the host decides.
      {{"MD", "", "I"}, false, item_path{u"DICT ", u"I"}},
      // UTF-8 segments become 16-bit text.
      {{"MD", "CAF\xC3\x89", "\xE2\x82\xAC"}, false, item_path{u"DICT CAF\u00C9", u"\u20AC"}},
      {{}, false, std::nullopt},
      {{"MD"}, false, std::nullopt},
      {{"MD", "A", "B", "C", "D"}, false, std::nullopt},
  };
  for (const item_case& c : cases) {
    std::optional<item_path> path = resolve_item_path(c.rest, session);
    ASSERT_EQ(path.has_value(), c.expected.has_value()) << ::testing::PrintToString(c.rest);
    if (path) {
      EXPECT_EQ(path->file, c.expected->file) << ::testing::PrintToString(c.rest);
      EXPECT_EQ(path->item, c.expected->item) << ::testing::PrintToString(c.rest);
    }
  }
}

struct directory_case {
  segments rest;
  std::optional<text> expected;
};

TEST(item_path_test, ResolvesDirectoryPathsByNumberOfSegments) {
  const directory_case cases[] = {
      {{"MD"}, u"MD"},
      {{"MD", "CUSTOMERS"}, u"DICT CUSTOMERS"},
      {{"MD", "CUSTOMERS", "HIST"}, u"CUSTOMERS,HIST"},
      {{"MD", ""}, u"DICT "},
      {{}, std::nullopt},
      {{"MD", "A", "B", "C"}, std::nullopt},
  };
  for (const directory_case& c : cases) {
    EXPECT_EQ(resolve_directory_path(c.rest, session), c.expected)
        << ::testing::PrintToString(c.rest);
  }
}

TEST(item_path_test, SegmentThatIsNotUtf8Throws) {
  EXPECT_THROW(resolve_item_path({"MD", "\x80"}, session), std::range_error);
  EXPECT_THROW(resolve_item_path({"MD", "F\xC3", "I"}, session), std::range_error);
  EXPECT_THROW(resolve_directory_path({"MD", "F", "\xC3\x41"}, session), std::range_error);
}

// nullopt as the action stands for the directory check.
struct refusal_case {
  std::optional<path_action> action;
  segments rest;
  std::string code;
  std::string message;
  std::string diagnostic;  // the whole line on standard error, without its line end
};

TEST(item_path_test, RefusalsCarryTheActionsCodeMessageAndDiagnostic) {
  const refusal_case cases[] = {
    {path_action::read, {}, "200", "File name missing from URL path.",
     "file name missing for read: "},
    {path_action::read, {"sales", "X"}, "201", "File MD, VOC or account name is not valid.",
     "invalid MD/VOC for read: sales/X"},
    {path_action::read, {"MD"}, "203", "File name or item ID missing from URL path.",
     "invalid path for read: MD"},
    {path_action::update_create, {}, "200", "File name missing from URL path.",
     "file name missing for update/create: "},
    {path_action::update_create, {"VOC", "X"}, "201",
     "File MD, VOC or account name is not valid.", "invalid MD/VOC for update/create: VOC/X"},
    {path_action::remove, {}, "200", "File name missing from URL path.",
     "invalid path for delete: "},
    {path_action::remove, {"X", "Y", "Z"}, "201", "File MD, VOC or account name is not valid.",
     "invalid MD/VOC for delete: X/Y/Z"},
    {path_action::stat, {}, "200", "File name missing from URL path.",
     "file name missing for stat: "},
    {path_action::stat, {"mD", "X"}, "201", "File MD, VOC or account name is not valid.",
     "invalid MD/VOC for stat: mD/X"},
    {path_action::rename, {}, "200", "Old file name missing from URL path.",
     "invalid path for rename: "},
    {path_action::rename, {"OTHER", "X"}, "201", "Old MD, VOC or account name is not valid.",
     "invalid MD/VOC for rename: OTHER/X"},
    {path_action::rename, {"MD"}, "203", "Old file name or item ID missing from URL path.",
     "invalid old path for rename: MD"},
    // One wrong root segment alone fails the root check, not the count check.
    {path_action::read, {"nope"}, "201", "File MD, VOC or account name is not valid.",
     "invalid MD/VOC for read: nope"},
    // A wrong count of directory segments is answered like a missing name.
    {std::nullopt, {}, "200", "File name missing from URL path.", "invalid path for dir: "},
    {std::nullopt, {"ACCOUNT"}, "201", "File MD, VOC or account name is not valid.",
     "invalid MD/VOC for dir: ACCOUNT"},
    {std::nullopt, {"MD", "A", "B", "C"}, "200", "File name missing from URL path.",
     "invalid path for dir: MD/A/B/C"},
  };
  for (int level : {0, 1}) {
    const settings config{.debug_level = level};
    for (const refusal_case& c : cases) {
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

// An accepted path leaves the reply alone; -c lets the root ignore case only.
TEST(item_path_test, CheckedPathsResolveAfterTheChecks) {
  settings config;
  std::string reply = "untouched";
  std::optional<item_path> path =
      checked_item_path(path_action::remove, {"MD", "X"}, session, config, reply);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->file, u"MD");
  EXPECT_EQ(checked_directory_path({"SALES", "CUST", "CUST"}, session, config, reply),
            text(u"CUST"));
  config.case_insensitive = true;
  path = checked_item_path(path_action::read, {"sales", "CUST", "cust", "X"}, session, config,
                           reply);
  ASSERT_TRUE(path.has_value());
  EXPECT_EQ(path->file, u"CUST,cust");
  EXPECT_EQ(path->item, u"X");
  EXPECT_EQ(reply, "untouched");
  config.case_insensitive = false;
  EXPECT_FALSE(checked_item_path(path_action::read, {"sales", "X"}, session, config, reply));
}

}  // namespace
}  // namespace ombrix
