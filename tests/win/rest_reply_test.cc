// The REST service's answer to host failures, with the fault component behind the request:
// what a client receives for each kind of failure.
#include <gtest/gtest.h>

#include <atomic>

#include <memory>
#include <string>

#include "base/settings.h"
#include "host/factory/connected_host.h"
#include "rest/access_token.h"
#include "rest/dispatcher.h"
#include "rest/kelm_info.h"
#include "rest/item_locks.h"
#include "rest/session_table.h"
#include "tests/win/fault_support.h"

namespace ombrix::fault {
namespace {

std::string error_reply(int status, const std::string& message, const std::string& code) {
  return "Content-Type:application/json\r\n\r\n{\"status\":" + std::to_string(status) +
         ",\"message\":\"" + message + "\",\"code\":\"" + code + "\"}";
}

struct reply_case {
  const char* name;
  mode which;
  int generation;
  int status;
  std::string reply;
};

class rest_reply_test : public ::testing::TestWithParam<reply_case> {};

TEST_P(rest_reply_test, ItemReadFailureBecomesTheErrorReply) {
  const reply_case& c = GetParam();
  session_table sessions;
  sessions.add_session("1a", std::make_shared<const kelm_info>(kelm_info{"SRV**", "SALES", "MD"}));
  const host_factory make_host = [&c](const std::string& server) {
    return connected_host(
        [&c] { return std::make_shared<fault_binding>(progid_of(c.which), c.generation); },
        server, default_settings);
  };
  std::atomic<bool> server_running{true};
  item_lock_table locks;
  const rest_context context{default_settings, sessions, locks, make_host, server_running};
  const std::string environment =
      "REMOTE_ADDR=127.0.0.1\r\nREMOTE_HOST=127.0.0.1\r\nREQUEST_METHOD=GET\r\n"
      "PATH_INFO=/quelm/restfs/file/SALES/CUST/X\r\nSERVER_PORT=3181\r\n"
      "HTTP_AUTHORIZATION=Bearer " + make_access_token("1a") + "\r\n";
  std::string reply;
  reset_journal();
  const int status = dispatch_rest_request(7, environment, "", reply, context);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(reply, c.reply);
  EXPECT_EQ(journal(), L"28 1\n47 -1\n7 \"SRV**\"\n10 \"DICT CUST\" \"X\" 0 0 0 0\n");
  EXPECT_EQ(live_objects(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    fault_component, rest_reply_test,
    ::testing::Values(
        reply_case{"EFailWithoutInformation", mode::fails_no_info, 80, 500,
                   error_reply(500, "", "80004005")},
        reply_case{"NotFoundWithDescription71", mode::fails_with_info, 71, 404,
                   error_reply(404, "Item not here: \xC3\xA9t\xC3\xA9", "201")},
        reply_case{"NotFoundWithDescription80", mode::fails_with_info, 80, 404,
                   error_reply(404, "Item not here: \xC3\xA9t\xC3\xA9", "201")},
        reply_case{"InformationOnlyFor80GivesNoMessage", mode::fails_80_only, 80, 404,
                   error_reply(404, "", "201")}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace ombrix::fault
