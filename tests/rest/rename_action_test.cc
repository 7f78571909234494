
#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

const kelm_info session{"ACCT**test", "ACCT", "MD"};
const text content = text(u"NAME\r\nA") + vm + u"B";
const std::vector<std::string> c1{"ACCT", "CUST", "C1"};

action_case rename_case(std::string label, std::vector<std::string> rest, std::optional<std::string> target,
                        int status, std::string reply, calls made, std::optional<std::string> diagnostic = {},
                        int version = 80) {
  return {std::move(label), rename_action, "rename", std::move(rest), "",
          target ? environment{{"QS_NEWNAME", *target}} : environment{}, status, std::move(reply),
          std::move(made), std::move(diagnostic), {{"read_item", content}}, version};
}

TEST(rename_action_test, ReadsCreatesAndDeletesWithinOneFile) {
  const calls dict_80{read_call(u"DICT CUST", u"C1"), create_call(u"DICT CUST", u"C2", content),
                      delete_call(u"DICT CUST", u"C1")};
  check_actions({
      rename_case("Generation80", c1, "ACCT/CUST/C2", 200, "", dict_80),
      rename_case("Generation71", c1, "ACCT/CUST/C2", 200, "",
                  {read_call(u"DICT CUST", u"C1"), create_call(u"DICT CUST", u"C2", u""),
                   write_call(u"DICT CUST", u"C2", content), delete_call(u"DICT CUST", u"C1")}, {}, 71),
      rename_case("SameIdOnlyReads", c1, "ACCT/CUST/C1", 200, "", {read_call(u"DICT CUST", u"C1")}),
      // The old path is checked first, whatever the new name.
      rename_case("Nothing", {}, "ACCT/C2", 400, error_reply(400, "Old file name missing from URL path.", "200"),
                  {}, "invalid path for rename: \n"),
  }, session);
}

TEST(rename_action_test, MovesToAnotherDirectoryAreRefusedBeforeAnyHostCall) {
  const struct { std::vector<std::string> rest; std::optional<std::string> newname; bool ignore_case; } cases[] = {
      {c1, "ACCT/ORDERS/C2", false}, {c1, "acct/CUST/C2", true}, {c1, "ACCT/CUST", false}, {c1, std::nullopt, false}};
  for (const auto& c : cases) {
    action_case refused = rename_case(c.newname.value_or("(absent)"), c.rest, c.newname, 400,
        error_reply(400, "'move' is not supported for 'rename' (new and old directory must be the same)."),
        {}, "rename does not allow item to be moved to different file\n");
    refused.ignore_case = c.ignore_case;
    check_action(refused, session);
  }
}

// A host failure stops the rename where it happens, so the old item is never deleted, and what
// the steps before it made of the new id is taken back: a refused rename changes nothing.
TEST(rename_action_test, HostFailuresStopBeforeTheDelete) {
  const host_call read = read_call(u"DICT CUST", u"C1"), create = create_call(u"DICT CUST", u"C2", content);
  // failing: the operation that fails.
  const struct { int version; std::string target, failing; int code; calls made; } cases[] = {
      {80, "ACCT/CUST/C1", "read_item", 202, {read}},
      {80, "ACCT/CUST/C2", "create_item", 204, {read, create}},
      {71, "ACCT/CUST/C2", "write_item", 206, {read, create_call(u"DICT CUST", u"C2", u""),
                                               write_call(u"DICT CUST", u"C2", content),
                                               delete_call(u"DICT CUST", u"C2")}},
      {80, "ACCT/CUST/C2", "delete_item", 207,
       {read, create, delete_call(u"DICT CUST", u"C1"), delete_call(u"DICT CUST", u"C2")}},
  };
  item_lock_table locks;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.failing);
    const settings config{.host_version = c.version};
    fake_host host;
    if (c.failing != "read_item") host.script("read_item", content);
    host.script_error(c.failing, _com_error(host_error_code(c.code), u"failed"));
    std::string reply;
    try {
      rename_action({"rename", c1, "", {{"QS_NEWNAME", c.target}}, session, host, locks, config}, reply);
      ADD_FAILURE() << "expected the host error";
    } catch (const _com_error& error) {
      EXPECT_EQ(error.Error(), host_error_code(c.code));
    }
    EXPECT_EQ(host.calls, c.made);
  }
}

}  // namespace
}  // namespace ombrix
