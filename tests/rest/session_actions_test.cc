#include "rest/session_actions.h"

#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

const std::string token_reply = json_reply(
    R"({"token_type":"Bearer","access_token":"eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxYSJ9"})");

// The login body names the server and the client; anything else counts as absent. Names longer
// than 4096 bytes are refused before the host is asked (regression: each session kept whatever
// Client text its login sent, 1 MiB each).
TEST(login_action_test, ConnectsWithTheComposedServerTextOrRefusesLongNames) {
  const std::string names[][3] = {{"*", "", "**"}, {"alpha", "c", "alpha**c"}, {"alpha*beta", "c", "alpha*beta*c"},
                                  {"**", "c", "***c"}};
  for (const auto& c : names) EXPECT_EQ(compose_server_text(c[0], c[1]), c[2]) << c[0];
  const std::string limit(4096, 'c'), over(4097, 'c');
  // refusal: empty when accepted.
  const struct { std::string body, server_text; std::string refusal; } cases[] = {
      {"", "**", ""},
      {R"({"ServerName":"alpha"})", "alpha**", ""},
      {R"({"ServerName":"*","Client":"c"})", "**c", ""},
      {R"({"ServerName":"alpha","Client":7})", "alpha**", ""},
      {R"({"ServerName":"al\"pha"})", "al\"pha**", ""},
      {R"({"Client":")" + limit + "\"}", "**" + limit, ""},
      {R"({"Client":")" + over + "\"}", "", "'Client' property must not exceed 4096 bytes."},
      {R"({"ServerName":")" + over + R"(","Client":"c"})", "", "'ServerName' property must not exceed 4096 bytes."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.body.substr(0, 40));
    recording_factory factory;
    session_table sessions;
    std::string reply = "left over";
    const bool refused = !c.refusal.empty();
    EXPECT_EQ(login_action(26, c.body, reply, sessions, factory.function()), refused ? 400 : 200);
    EXPECT_EQ(factory.server_texts, refused ? std::vector<std::string>{} : std::vector<std::string>{c.server_text});
    EXPECT_EQ(sessions.session_count(), refused ? 0u : 1u);
    EXPECT_EQ(reply, refused ? error_reply(400, c.refusal) : token_reply);
  }
}

TEST(login_action_test, RecordsTheSessionFromTheHostsNames) {
  recording_factory factory;
  factory.server_name = u"Z\u00fcrich";
  factory.md_name = u"VOC";
  session_table sessions;
  std::string reply;
  ASSERT_EQ(login_action(26, R"({"ServerName":"x*y","Client":"cl"})", reply, sessions, factory.function()), 200);
  ASSERT_NE(sessions.find_session("1a"), nullptr);
  const kelm_info& session = *sessions.find_session("1a");
  // Always "**" between the host's own name and the client, whatever form the login used.
  EXPECT_EQ(session.server_text + "|" + session.account_name + "|" + session.md_name, "Z\xC3\xBCrich**cl|SALES|VOC");
  EXPECT_EQ(factory.hosts.at(0)->calls,
            (calls{{"get_server_name", {}, {}}, {"get_property_3", {}, {}}, {"get_property_5", {}, {}}}));
}

// No host object is a connection failure; a host failure propagates; neither adds a session.
TEST(login_action_test, FailuresAddNoSession) {
  recording_factory none;
  none.yields_no_host = true;
  session_table sessions;
  std::string reply;
  EXPECT_EQ(login_action(3, R"({"ServerName":"alpha","Client":"c"})", reply, sessions, none.function()), 401);
  EXPECT_EQ(reply, error_reply(401, "Connection failure - unable to connect to server 'alpha**c'."));
  recording_factory factory;
  factory.failing_operation = "get_property_5";
  EXPECT_THROW(login_action(4, "", reply, sessions, factory.function()), _com_error);
  EXPECT_EQ(sessions.session_count(), 0u);
}

}  // namespace
}  // namespace ombrix
