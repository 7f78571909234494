#include "rest/session_actions.h"
#include "rest/item_locks.h"

#include <gtest/gtest.h>

#include <atomic>

#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "host/com_error.h"
#include "rest/access_token.h"
#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

struct server_text_case {
  std::string server_name;
  std::string client;
  std::string server_text;
};

// Failures name the input, not the bytes of the structure.
void PrintTo(const server_text_case& c, std::ostream* out) {
  *out << ::testing::PrintToString(c.server_name) << " + " << ::testing::PrintToString(c.client);
}

class compose_server_text_test : public ::testing::TestWithParam<server_text_case> {};

TEST_P(compose_server_text_test, JoinsNameAndClient) {
  const server_text_case& c = GetParam();
  EXPECT_EQ(compose_server_text(c.server_name, c.client), c.server_text);
}

INSTANTIATE_TEST_SUITE_P(Forms, compose_server_text_test,
                         ::testing::Values(server_text_case{"*", "", "**"},
                                           server_text_case{"*", "c", "**c"},
                                           server_text_case{"alpha", "", "alpha**"},
                                           server_text_case{"alpha", "c", "alpha**c"},
                                           server_text_case{"alpha*beta", "c", "alpha*beta*c"},
                                           server_text_case{"alpha*", "", "alpha**"},
                                           server_text_case{"**", "c", "***c"},
                                           server_text_case{"", "c", "**c"}));

struct login_body_case {
  std::string name;
  std::string body;
  std::string server_text;
};

void PrintTo(const login_body_case& c, std::ostream* out) { *out << c.name; }

class login_body_test : public ::testing::TestWithParam<login_body_case> {};

TEST_P(login_body_test, ConnectsWithTheComposedServerText) {
  recording_factory factory;
  session_table sessions;
  std::string reply = "left over";
  EXPECT_EQ(login_action(26, GetParam().body, reply, sessions, factory.function()), 200);
  EXPECT_EQ(factory.server_texts, std::vector<std::string>{GetParam().server_text});
  EXPECT_EQ(sessions.session_count(), 1u);
  EXPECT_EQ(reply,
            "Content-Type:application/json\r\n\r\n"
            R"({"token_type":"Bearer","access_token":")"
            "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxYSJ9"
            "\"}\r\n");
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, login_body_test,
    ::testing::Values(
        login_body_case{"Empty", "", "**"},
        login_body_case{"EmptyObject", "{}", "**"},
        login_body_case{"NameOnly", R"({"ServerName":"alpha"})", "alpha**"},
        login_body_case{"NameWithStar", R"({"ServerName":"alpha*beta","Client":"c"})",
                        "alpha*beta*c"},
        login_body_case{"StarName", R"({"ServerName":"*","Client":"c"})", "**c"},
        login_body_case{"ClientOnly", R"({"Client":"c"})", "**c"},
        login_body_case{"NumericNameIgnored", R"({"ServerName":12,"Client":"c"})", "**c"},
        login_body_case{"NumericClientIgnored", R"({"ServerName":"alpha","Client":7})",
                        "alpha**"},
        login_body_case{"ArrayNameIgnored", R"({"ServerName":["alpha"]})", "**"},
        login_body_case{"IncompleteObjectIgnored", R"({"ServerName":"alpha")", "**"},
        login_body_case{"ArrayBodyIgnored", R"(["alpha"])", "**"},
        login_body_case{"NotJsonIgnored", "ServerName=alpha", "**"},
        login_body_case{"EscapedText", R"({"ServerName":"al\"pha"})", "al\"pha**"}),
    [](const ::testing::TestParamInfo<login_body_case>& info) { return info.param.name; });

TEST(login_action_test, RecordsTheSessionFromTheHostsNames) {
  recording_factory factory;
  factory.server_name = u"Z\u00fcrich";
  factory.account_name = u"SALES";
  factory.md_name = u"VOC";
  session_table sessions;
  std::string reply;
  ASSERT_EQ(login_action(26, R"({"ServerName":"x*y","Client":"cl"})", reply, sessions,
                         factory.function()),
            200);
  std::shared_ptr<const kelm_info> session = sessions.find_session("1a");
  ASSERT_NE(session, nullptr);
  // Always "**" between the host's own name and the client, whatever form the login used.
  EXPECT_EQ(session->server_text, "Z\xC3\xBCrich**cl");
  EXPECT_EQ(session->account_name, "SALES");
  EXPECT_EQ(session->md_name, "VOC");
  ASSERT_EQ(factory.hosts.size(), 1u);
  const std::vector<host_call> expected{{"get_server_name", {}, {}},
                                        {"get_property_3", {}, {}},
                                        {"get_property_5", {}, {}}};
  EXPECT_EQ(factory.hosts[0]->calls, expected);
}

TEST(login_action_test, NoHostObjectIsAConnectionFailure) {
  recording_factory factory;
  factory.yields_no_host = true;
  session_table sessions;
  std::string reply;
  EXPECT_EQ(login_action(3, R"({"ServerName":"alpha","Client":"c"})", reply, sessions,
                         factory.function()),
            401);
  EXPECT_EQ(reply,
            "Content-Type:application/json\r\n\r\n"
            R"({"status":401,"message":"Connection failure - unable to connect to server 'alpha**c'.","code":""})");
  EXPECT_EQ(sessions.session_count(), 0u);
}

TEST(login_action_test, LongLoginTextsAreRefusedBeforeTheHostIsAsked) {
  // Regression: each session kept whatever Client text its login sent, 1 MiB each.
  const std::string limit(4096, 'c');
  const std::string over(4097, 'c');
  struct long_case {
    std::string body;
    int status;
    std::string message;  // for 400
  };
  const long_case cases[] = {
      {R"({"Client":")" + limit + R"("})", 200, ""},
      {R"({"ServerName":")" + limit + R"("})", 200, ""},
      {R"({"Client":")" + over + R"("})", 400, "'Client' property must not exceed 4096 bytes."},
      {R"({"ServerName":")" + over + R"(","Client":"c"})", 400,
       "'ServerName' property must not exceed 4096 bytes."},
  };
  for (const long_case& c : cases) {
    recording_factory factory;
    session_table sessions;
    std::string reply;
    EXPECT_EQ(login_action(5, c.body, reply, sessions, factory.function()), c.status);
    if (c.status == 400) {
      EXPECT_EQ(reply, "Content-Type:application/json\r\n\r\n{\"status\":400,\"message\":\"" +
                           c.message + "\",\"code\":\"\"}");
      EXPECT_TRUE(factory.server_texts.empty());
      EXPECT_EQ(sessions.session_count(), 0u);
    } else {
      EXPECT_EQ(sessions.session_count(), 1u);
    }
  }
}

TEST(login_action_test, HostFailuresPropagateAndAddNoSession) {
  for (const char* failing : {"factory", "get_server_name", "get_property_3", "get_property_5"}) {
    SCOPED_TRACE(failing);
    recording_factory factory;
    factory.error = _com_error(host_error_code(201), u"Account not found");
    if (std::string(failing) == "factory") {
      factory.failure = [&factory] { throw factory.error; };
    } else {
      factory.failing_operation = failing;
    }
    session_table sessions;
    std::string reply;
    try {
      login_action(4, "", reply, sessions, factory.function());
      ADD_FAILURE() << "no error";
    } catch (const _com_error& caught) {
      EXPECT_EQ(caught.Error(), host_error_code(201));
      EXPECT_EQ(caught.Description(), u"Account not found");
    }
    EXPECT_EQ(sessions.session_count(), 0u);
  }
}

class logout_action_test : public ::testing::Test {
 protected:
  int logout(const std::string& id) {
    reply_ = "left over";
    return logout_action(id, reply_,
                         rest_context{config_, sessions_, locks_, factory_.function(), server_running_});
  }
  void add(const std::string& id, std::string server_text) {
    sessions_.add_session(
        id, std::make_shared<const kelm_info>(kelm_info{std::move(server_text), "SALES", "MD"}));
  }

  settings config_;
  std::atomic<bool> server_running_{true};
  item_lock_table locks_;
  recording_factory factory_;
  session_table sessions_;
  std::string reply_;
};

const calls quit_only{host_call{"quit", {}, {}}};

// The last session ending stops nothing without -a.
TEST_F(logout_action_test, RemovesTheSessionWithoutContactingTheHost) {
  config_.exit_on_logout = false;
  add("1a", "SRV**");
  add("1b", "SRV**x");
  EXPECT_EQ(logout("1a"), 200);
  EXPECT_EQ(reply_, "");
  EXPECT_EQ(sessions_.find_session("1a"), nullptr);
  EXPECT_NE(sessions_.find_session("1b"), nullptr);
  EXPECT_EQ(logout("1b"), 200);
  EXPECT_EQ(sessions_.session_count(), 0u);
  EXPECT_TRUE(server_running_);
  EXPECT_TRUE(factory_.server_texts.empty());
}

TEST_F(logout_action_test, ExitOnLogoutIgnoresAFailingFactory) {
  config_.exit_on_logout = true;
  factory_.failure = [] { throw _com_error(e_fail); };
  add("2", "SRV**");
  EXPECT_EQ(logout("2"), 200);
  EXPECT_EQ(reply_, "");
  EXPECT_EQ(sessions_.session_count(), 0u);
  EXPECT_FALSE(server_running_);
  EXPECT_EQ(factory_.server_texts, std::vector<std::string>{"SRV**"});
}

TEST_F(logout_action_test, ExitOnLogoutIgnoresAFailingQuit) {
  config_.exit_on_logout = true;
  factory_.failing_operation = "quit";
  add("2", "SRV**");
  EXPECT_EQ(logout("2"), 200);
  EXPECT_EQ(reply_, "");
  EXPECT_EQ(sessions_.session_count(), 0u);
  EXPECT_FALSE(server_running_);
  ASSERT_EQ(factory_.hosts.size(), 1u);
  EXPECT_EQ(factory_.hosts[0]->calls, quit_only);
}

// Nothing to quit: an unknown id names no server.
TEST_F(logout_action_test, ExitOnLogoutWithAnUnknownIdStopsAnEmptyServer) {
  config_.exit_on_logout = true;
  EXPECT_EQ(logout("99"), 200);
  EXPECT_FALSE(server_running_);
  EXPECT_TRUE(factory_.server_texts.empty());
}

}  // namespace
}  // namespace ombrix
