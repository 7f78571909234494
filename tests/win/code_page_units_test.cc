// The host's code page: lines 1 and 2 of the cmd parameter text in code-page units, as the fault
// component receives them through the REST service, and the default 8-bit conversion of the
// diagnostics.
#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "host/text.h"
#include "tests/win/fault_support.h"

namespace ombrix {
namespace {

// What the code page makes of "é", "€" and a character it has no form for (the journal renders
// each unit outside printable ASCII as \uXXXX).
struct code_page_case {
  text e_acute;
  std::wstring e_acute_journal;
  text euro;
  std::wstring euro_journal;
  std::string outside_url;  // percent-encoded UTF-8
  text outside;
};

std::optional<code_page_case> case_for_this_code_page() {
  if (GetACP() == 1252) return code_page_case{u"\u00e9", L"\\u00e9", u"\u0080", L"\\u0080", "%D0%96", u"\u0416"};
  if (GetACP() == CP_UTF8) {  // every character has a form; a lone surrogate has none
    return code_page_case{u"\u00c3\u00a9", L"\\u00c3\\u00a9", u"\u00e2\u0082\u00ac", L"\\u00e2\\u0082\\u00ac", "%ED%A0%80", u"\xD800"};
  }
  return std::nullopt;
}

std::wstring ftfscmd_line(const std::wstring& file, const std::wstring& item) {
  return L"17 \"FTFSCMD\" \"ECHO\" \"" + file + L"\\u000d\\u000a" + item + L"\\u000d\\u000a\\u000d\\u000a\"\n";
}

TEST(code_page_units, FaultComponentReceivesCodePageUnitsOrNoCallAtAll) {
  const std::optional<code_page_case> c = case_for_this_code_page();
  if (!c) GTEST_SKIP() << "no expectations for code page " << GetACP();
  // The diagnostics' 8-bit text is in the same (ANSI) code page: its bytes are these units.
  const text units = u"CAF" + c->e_acute + u" " + c->euro;
  EXPECT_EQ(to_default_codepage(u"CAF\u00e9 \u20ac"), std::string(units.begin(), units.end()));
  EXPECT_EQ(from_default_codepage(std::string(units.begin(), units.end())), u"CAF\u00e9 \u20ac");
  const std::string refused =
      fault::error_reply(400, "File name or item ID cannot be represented in the host's code page.", "");
  const std::string echoed = "Content-Type:application/json\r\n\r\n{\"message\":\"m17\",\"output\":[]}\r\n";
  const struct {
    std::string path;  // after the account name
    int status;
    std::string reply;
    std::wstring call;  // the FTFSCMD line of the journal; empty when no call is made
  } cases[] = {
      {"CAF%C3%A9/CAF%C3%A9/%E2%82%AC1", 200, echoed, ftfscmd_line(L"CAF" + c->e_acute_journal, c->euro_journal + L"1")},
      {"CUST/CUST/X" + c->outside_url, 400, refused, L""},
      {"F" + c->outside_url + "/F" + c->outside_url + "/C1", 400, refused, L""},
  };
  for (const auto& one : cases) {
    SCOPED_TRACE(one.path);
    std::string reply;
    EXPECT_EQ(fault::serve(fault::mode::recorder, 80, "POST", "cmd/ECHO/SALES/" + one.path, reply), one.status);
    EXPECT_EQ(reply, one.reply);
    EXPECT_EQ(fault::journal(), L"28 1\n47 -1\n7 \"SRV**\"\n" + one.call);
  }
  EXPECT_EQ(fault::live_objects(), 0);
}

}  // namespace
}  // namespace ombrix
