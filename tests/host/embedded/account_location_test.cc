#include "host/embedded/account_location.h"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

namespace ombrix {
namespace {

TEST(AccountLocation, ServerTextNamesTheAccountAndClient) {
  const std::vector<std::array<text, 3>> rows = {  // server text, account, client
      {u"**", u"MAIN", u""},          {u"**vscode", u"MAIN", u"vscode"},
      {u"SALES**", u"SALES", u""},    {u"SALES**c", u"SALES", u"c"},
      {u"alpha*beta*c", u"beta", u"c"}, {u"alpha*beta**c", u"beta", u"c"},
      {u"*c", u"MAIN", u"c"},
      {u"SALES", u"SALES", u""},      {u"", u"MAIN", u""},
      {u"a**b**c", u"b", u"c"},
  };
  for (const auto& [server, account, client] : rows) {
    const server_target target = parse_server_text(server, u"MAIN");
    EXPECT_EQ(target.account, account) << to_utf8(server);
    EXPECT_EQ(target.client, client) << to_utf8(server);
  }
}

TEST(AccountLocation, DefaultAccountComesFromOmbrixAccount) {
  EXPECT_EQ(default_account_from(nullptr), u"MAIN");
  EXPECT_EQ(default_account_from("SALES"), u"SALES");
  EXPECT_EQ(parse_server_text(u"**vscode", default_account_from("SALES")).account, u"SALES");
  EXPECT_EQ(default_account_from(""), u"MAIN");
  EXPECT_EQ(default_account_from("../\xC3\xA9"), text(u"../\u00C3\u00A9")) << "bytes kept, so refused later";
}

TEST(AccountLocation, AccountNameRulesAndPath) {
  const std::vector<std::pair<text, bool>> cases = {
      {u"MAIN", true},        {u"a", true},            {u"Sales_2024.v-1", true},
      {text(64, u'x'), true}, {text(65, u'x'), false}, {u"", false},
      {u"../x", false},       {u"a/b", false},         {u".hidden", false},
      {u".", false},          {u"..", false},          {u"a b", false},
      {u"a\\b", false},       {u"\u00E9", false},      {text(1, u'\0'), false},
      {u"a*b", false},        {u"x.", true},
  };
  for (const auto& [name, valid] : cases) {
    EXPECT_EQ(is_valid_account_name(name), valid) << to_utf8(name);
  }
  EXPECT_EQ(account_path("/srv/data", u"SALES"), "/srv/data/SALES.db");
  EXPECT_EQ(account_path("/srv/data/", u"a.b"), "/srv/data/a.b.db");
}

}  // namespace
}  // namespace ombrix
