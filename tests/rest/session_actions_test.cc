#include "rest/session_actions.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "host/com_error.h"
#include "rest/access_token.h"
#include "server/settings.h"
#include "tests/rest/fake_host.h"

namespace ombrix {
namespace {

// Restores the settings a test changes.
class settings_guard {
 public:
  settings_guard()
      : debug_(debug_level), exit_(exit_on_logout), running_(server_running.load()) {}
  ~settings_guard() {
    debug_level = debug_;
    exit_on_logout = exit_;
    server_running = running_;
  }
  settings_guard(const settings_guard&) = delete;
  settings_guard& operator=(const settings_guard&) = delete;

 private:
  int debug_;
  bool exit_;
  bool running_;
};

// Hands out one scripted fake_host per call and records the server texts it was given.
struct recording_factory {
  std::vector<std::string> server_texts;
  std::vector<std::shared_ptr<fake_host>> hosts;
  std::optional<_com_error> failure;  // thrown by the factory itself
  std::string failing_operation;      // this host operation throws `error` instead
  _com_error error{e_fail};
  bool yields_no_host = false;
  text server_name = u"SRV";
  text account_name = u"SALES";
  text md_name = u"MD";

  host_factory function() {
    return [this](const std::string& server_text) -> std::shared_ptr<velquor_base> {
      server_texts.push_back(server_text);
      if (failure) throw *failure;
      if (yields_no_host) return nullptr;
      auto host = std::make_shared<fake_host>();
      const std::pair<const char*, text> answers[] = {{"get_server_name", server_name},
                                                      {"get_property_3", account_name},
                                                      {"get_property_5", md_name},
                                                      {"quit", {}}};
      for (const auto& [operation, answer] : answers) {
        if (operation == failing_operation) {
          host->script_error(operation, error);
        } else {
          host->script(operation, answer);
        }
      }
      hosts.push_back(host);
      return host;
    };
  }
};

struct server_text_case {
  std::string server_name;
  std::string client;
  std::string server_text;
};

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

class login_body_test : public ::testing::TestWithParam<login_body_case> {};

TEST_P(login_body_test, ConnectsWithTheComposedServerText) {
  recording_factory factory;
  session_table sessions;
  std::string reply;
  EXPECT_EQ(login_action(26, GetParam().body, reply, sessions, factory.function()), 200);
  EXPECT_EQ(factory.server_texts, std::vector<std::string>{GetParam().server_text});
  EXPECT_EQ(sessions.session_count(), 1u);
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

TEST(login_action_test, RepliesWithTheBearerTokenOfTheConnection) {
  recording_factory factory;
  session_table sessions;
  std::string reply = "left over";
  ASSERT_EQ(login_action(26, "", reply, sessions, factory.function()), 200);
  EXPECT_EQ(reply,
            "Content-Type:application/json\r\n\r\n"
            R"({"token_type":"Bearer","access_token":")"
            "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxYSJ9"
            "\"}\r\n");
}

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

TEST(login_action_test, TwoLoginsOnDifferentConnectionsMakeTwoSessions) {
  recording_factory factory;
  session_table sessions;
  std::string first;
  std::string second;
  ASSERT_EQ(login_action(26, "", first, sessions, factory.function()), 200);
  ASSERT_EQ(login_action(27, R"({"ServerName":"other"})", second, sessions,
                         factory.function()),
            200);
  EXPECT_NE(first, second);
  EXPECT_EQ(sessions.session_count(), 2u);
  EXPECT_NE(sessions.find_session("1a"), nullptr);
  EXPECT_NE(sessions.find_session("1b"), nullptr);
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

TEST(login_action_test, HostFailuresPropagateAndAddNoSession) {
  for (const char* failing : {"factory", "get_server_name", "get_property_3", "get_property_5"}) {
    SCOPED_TRACE(failing);
    recording_factory factory;
    factory.error = _com_error(host_error_code(201), u"Account not found");
    if (std::string(failing) == "factory") {
      factory.failure = factory.error;
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

std::shared_ptr<const kelm_info> session_record(std::string server_text) {
  return std::make_shared<const kelm_info>(kelm_info{std::move(server_text), "SALES", "MD"});
}

TEST(logout_action_test, WithoutATokenNothingHappens) {
  settings_guard guard;
  exit_on_logout = true;
  server_running = true;
  recording_factory factory;
  session_table sessions;
  std::string reply = "left over";
  EXPECT_EQ(logout_action("", reply, sessions, factory.function()), 200);
  EXPECT_EQ(reply, "");
  EXPECT_TRUE(server_running);
  EXPECT_TRUE(factory.server_texts.empty());
}

TEST(logout_action_test, RemovesTheSessionWithoutContactingTheHost) {
  settings_guard guard;
  exit_on_logout = false;
  server_running = true;
  recording_factory factory;
  session_table sessions;
  sessions.add_session("1a", session_record("SRV**"));
  sessions.add_session("1b", session_record("SRV**x"));
  std::string reply;
  EXPECT_EQ(logout_action("1a", reply, sessions, factory.function()), 200);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(sessions.find_session("1a"), nullptr);
  EXPECT_NE(sessions.find_session("1b"), nullptr);
  // The last session ending stops nothing without -a.
  EXPECT_EQ(logout_action("1b", reply, sessions, factory.function()), 200);
  EXPECT_EQ(sessions.session_count(), 0u);
  EXPECT_TRUE(server_running);
  EXPECT_TRUE(factory.server_texts.empty());
}

TEST(logout_action_test, ExitOnLogoutQuitsTheHostAndStopsWhenTheTableEmpties) {
  settings_guard guard;
  exit_on_logout = true;
  server_running = true;
  recording_factory factory;
  session_table sessions;
  sessions.add_session("1a", session_record("SRV**a"));
  sessions.add_session("1b", session_record("SRV**b"));
  std::string reply;

  EXPECT_EQ(logout_action("1a", reply, sessions, factory.function()), 200);
  EXPECT_TRUE(server_running);
  EXPECT_EQ(sessions.session_count(), 1u);

  EXPECT_EQ(logout_action("1b", reply, sessions, factory.function()), 200);
  EXPECT_FALSE(server_running);
  EXPECT_EQ(sessions.session_count(), 0u);

  EXPECT_EQ(factory.server_texts, (std::vector<std::string>{"SRV**a", "SRV**b"}));
  ASSERT_EQ(factory.hosts.size(), 2u);
  for (const auto& host : factory.hosts) {
    EXPECT_EQ(host->calls, (std::vector<host_call>{host_call{"quit", {}, {}}}));
  }
}

TEST(logout_action_test, ExitOnLogoutIgnoresHostFailures) {
  for (bool factory_fails : {true, false}) {
    SCOPED_TRACE(factory_fails ? "factory fails" : "quit fails");
    settings_guard guard;
    exit_on_logout = true;
    server_running = true;
    recording_factory factory;
    if (factory_fails) {
      factory.failure = _com_error(e_fail);
    } else {
      factory.failing_operation = "quit";
    }
    session_table sessions;
    sessions.add_session("2", session_record("SRV**"));
    std::string reply;
    EXPECT_EQ(logout_action("2", reply, sessions, factory.function()), 200);
    EXPECT_EQ(reply, "");
    EXPECT_EQ(sessions.session_count(), 0u);
    EXPECT_FALSE(server_running);
    EXPECT_EQ(factory.server_texts, std::vector<std::string>{"SRV**"});
    if (!factory_fails) {
      ASSERT_EQ(factory.hosts.size(), 1u);
      EXPECT_EQ(factory.hosts[0]->calls, (std::vector<host_call>{host_call{"quit", {}, {}}}));
    }
  }
}

TEST(logout_action_test, ExitOnLogoutWithAnUnknownIdStopsAnEmptyServer) {
  settings_guard guard;
  exit_on_logout = true;
  server_running = true;
  recording_factory factory;
  session_table sessions;
  std::string reply;
  EXPECT_EQ(logout_action("99", reply, sessions, factory.function()), 200);
  EXPECT_FALSE(server_running);
  // Nothing to quit: an unknown id names no server.
  EXPECT_TRUE(factory.server_texts.empty());
}

}  // namespace
}  // namespace ombrix
