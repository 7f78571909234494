#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "rest/actions.h"
#include "server/settings.h"
#include "tests/rest/fake_host.h"

namespace ombrix {
namespace {

using calls = std::vector<host_call>;
constexpr char16_t vm = value_mark;

std::string error_reply_text(std::string_view message, std::string_view code) {
  return "Content-Type:application/json\r\n\r\n{\"status\":400,\"message\":\"" +
         std::string(message) + "\",\"code\":\"" + std::string(code) + "\"}";
}

constexpr std::string_view move_refused =
    "'move' is not supported for 'rename' (new and old directory must be the same).";

class rename_action_test : public ::testing::Test {
 protected:
  void TearDown() override {
    debug_level = saved_debug_level_;
    host_version = saved_host_version_;
    case_insensitive = saved_case_insensitive_;
  }

  // A rename request; `newname` is the decoded query parameter, absent when nullopt.
  int rename(std::vector<std::string> rest, std::optional<std::string> newname) {
    env.clear();
    if (newname) env["QS_NEWNAME"] = *newname;
    action_request r{"rename", std::move(rest), body, env, session, host};
    return rename_action(r, reply);
  }

  kelm_info session{"ACCT**test", "ACCT", "MD"};
  environment env;
  std::string body;
  fake_host host;
  std::string reply = "stale";

 private:
  int saved_debug_level_ = debug_level;
  int saved_host_version_ = host_version;
  bool saved_case_insensitive_ = case_insensitive;
};

host_call read_call(text file, text item) { return {"read_item", {file, item}, {0, 0, 0, 0}}; }
host_call create_call(text file, text item, text content) {
  return {"create_item", {file, item, content}, {}};
}
host_call write_call(text file, text item, text content) {
  return {"write_item", {file, item, content}, {0, 0, 0, 0}};
}
host_call delete_call(text file, text item) { return {"delete_item", {file, item}, {}}; }

const text content = text(u"NAME\r\nA") + vm + u"B";

TEST_F(rename_action_test, Generation80ReadsCreatesWithContentAndDeletes) {
  host_version = 80;
  host.script("read_item", content);
  EXPECT_EQ(rename({"ACCT", "CUST", "C1"}, "ACCT/CUST/C2"), 200);
  EXPECT_EQ(host.calls, (calls{read_call(u"DICT CUST", u"C1"),
                               create_call(u"DICT CUST", u"C2", content),
                               delete_call(u"DICT CUST", u"C1")}));
  EXPECT_EQ(reply, "");
}

TEST_F(rename_action_test, Generation71CreatesEmptyThenWritesTheContent) {
  host_version = 71;
  host.script("read_item", content);
  EXPECT_EQ(rename({"ACCT", "CUST", "C1"}, "ACCT/CUST/C2"), 200);
  EXPECT_EQ(host.calls, (calls{read_call(u"DICT CUST", u"C1"),
                               create_call(u"DICT CUST", u"C2", u""),
                               write_call(u"DICT CUST", u"C2", content),
                               delete_call(u"DICT CUST", u"C1")}));
  EXPECT_EQ(reply, "");
}

TEST_F(rename_action_test, RenamesWithinEachKindOfFile) {
  struct rename_case {
    std::vector<std::string> rest;
    std::string newname;
    text file;
    text old_item;
    text new_item;
  };
  const rename_case cases[] = {
      {{"ACCT", "CUST", "CUST", "C1"}, "ACCT/CUST/CUST/C9", u"CUST", u"C1", u"C9"},
      {{"ACCT", "CUST", "HIST", "C1"}, "ACCT/CUST/HIST/C9", u"CUST,HIST", u"C1", u"C9"},
      {{"MD", "OLD"}, "MD/NEW", u"MD", u"OLD", u"NEW"},
      // A "/" at the very end adds no segment.
      {{"ACCT", "CUST", "C1"}, "ACCT/CUST/C2/", u"DICT CUST", u"C1", u"C2"},
      {{"ACCT", "CUST", "C1"}, "ACCT/CUST/\xC3\xA9", u"DICT CUST", u"C1", u"\u00E9"},
  };
  host_version = 80;
  for (const rename_case& c : cases) {
    host.calls.clear();
    EXPECT_EQ(rename(c.rest, c.newname), 200) << c.newname;
    EXPECT_EQ(host.calls, (calls{read_call(c.file, c.old_item),
                                 create_call(c.file, c.new_item, u""),
                                 delete_call(c.file, c.old_item)}))
        << c.newname;
  }
}

TEST_F(rename_action_test, MovesToAnotherDirectoryAreRefusedBeforeAnyHostCall) {
  struct move_case {
    std::vector<std::string> rest;
    std::optional<std::string> newname;
    bool ignore_case;
  };
  const move_case cases[] = {
      {{"ACCT", "CUST", "C1"}, "ACCT/ORDERS/C2", false},
      {{"ACCT", "CUST", "C1"}, "C2", false},
      {{"ACCT", "CUST", "C1"}, "ACCT/CUST/CUST/C2", false},
      {{"ACCT", "CUST", "C1"}, "acct/CUST/C2", true},
      {{"ACCT", "CUST", "C1"}, "ACCT/cust/C2", true},
      {{"ACCT", "CUST", "C1"}, "MD/CUST/C2", false},
      {{"ACCT", "CUST", "C1"}, "ACCT/CUST", false},
      {{"ACCT", "CUST", "C1"}, "ACCT//C2", false},
      {{"ACCT", "CUST", "C1"}, "/ACCT/CUST/C2", false},
      {{"ACCT", "CUST", "C1"}, "", false},
      {{"ACCT", "CUST", "C1"}, std::nullopt, false},
      {{"MD", "X"}, std::nullopt, false},
  };
  debug_level = 1;
  for (const move_case& c : cases) {
    case_insensitive = c.ignore_case;
    reply.clear();
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(rename(c.rest, c.newname), 400);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "rename does not allow item to be moved to different file\n");
    EXPECT_EQ(reply, error_reply_text(move_refused, ""));
    EXPECT_TRUE(host.calls.empty()) << c.newname.value_or("(absent)");
  }
}

TEST_F(rename_action_test, OldPathRefusalsUseTheOldPathTexts) {
  struct refusal_case {
    std::vector<std::string> rest;
    std::string code;
    std::string message;
    std::string diagnostic;
  };
  const refusal_case cases[] = {
      {{}, "200", "Old file name missing from URL path.", "invalid path for rename: "},
      {{"acct", "C1"}, "201", "Old MD, VOC or account name is not valid.",
       "invalid MD/VOC for rename: acct/C1"},
      {{"ACCT"}, "203", "Old file name or item ID missing from URL path.",
       "invalid old path for rename: ACCT"},
      {{"ACCT", "A", "B", "C", "D"}, "203", "Old file name or item ID missing from URL path.",
       "invalid old path for rename: ACCT/A/B/C/D"},
  };
  debug_level = 1;
  for (const refusal_case& c : cases) {
    ::testing::internal::CaptureStderr();
    // A newname that would pass the directory rule does not matter: the old path is checked first.
    EXPECT_EQ(rename(c.rest, "ACCT/C2"), 400);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.diagnostic + "\n");
    EXPECT_EQ(reply, error_reply_text(c.message, c.code));
    EXPECT_TRUE(host.calls.empty());
  }
}

TEST_F(rename_action_test, SameIdOnlyReadsTheItem) {
  host.script("read_item", content);
  EXPECT_EQ(rename({"ACCT", "CUST", "C1"}, "ACCT/CUST/C1"), 200);
  EXPECT_EQ(host.calls, calls{read_call(u"DICT CUST", u"C1")});
  EXPECT_EQ(reply, "");
}

TEST_F(rename_action_test, SameIdOfAMissingItemGivesTheHostsError) {
  host.script_error("read_item", _com_error(host_error_code(202), u"Item not found"));
  EXPECT_THROW(rename({"ACCT", "CUST", "C1"}, "ACCT/CUST/C1"), _com_error);
  EXPECT_EQ(host.calls, calls{read_call(u"DICT CUST", u"C1")});
}

TEST_F(rename_action_test, ExistingTargetStopsBeforeTheDelete) {
  host_version = 80;
  host.script("read_item", content);
  host.script_error("create_item", _com_error(host_error_code(204), u"Item already exists"));
  try {
    rename({"ACCT", "CUST", "C1"}, "ACCT/CUST/C2");
    FAIL() << "expected the host error";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), host_error_code(204));
  }
  EXPECT_EQ(host.calls, (calls{read_call(u"DICT CUST", u"C1"),
                               create_call(u"DICT CUST", u"C2", content)}));
}

TEST_F(rename_action_test, FailedWriteOnGeneration71LeavesTheOldItem) {
  host_version = 71;
  host.script("read_item", content);
  host.script_error("write_item", _com_error(host_error_code(206), u"Storage failure"));
  EXPECT_THROW(rename({"ACCT", "CUST", "C1"}, "ACCT/CUST/C2"), _com_error);
  EXPECT_EQ(host.calls, (calls{read_call(u"DICT CUST", u"C1"),
                               create_call(u"DICT CUST", u"C2", u""),
                               write_call(u"DICT CUST", u"C2", content)}));
}

}  // namespace
}  // namespace ombrix
