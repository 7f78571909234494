// The host's code page: the default 8-bit conversion of the diagnostics, lines 1 and 2 of the cmd
// parameter text in code-page units, what the fault component receives through the REST service,
// and how ombrix-host.dll reads the lines back.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

#include "host/com/code_page_units.h"
#include "host/factory/create_host_server.h"
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
#define CODE_PAGE_CASE(c)                          \
  const std::optional<code_page_case> c = case_for_this_code_page(); \
  if (!c) GTEST_SKIP() << "no expectations for code page " << GetACP()

TEST(code_page_units, NamesBecomeTheirCodePageBytesOneUnitEachAndBack) {
  CODE_PAGE_CASE(c);
  // The diagnostics' 8-bit text is in the same (ANSI) code page: its bytes are these units.
  const text units = u"CAF" + c->e_acute + u" " + c->euro;
  EXPECT_EQ(to_default_codepage(u"CAF\u00e9 \u20ac"), std::string(units.begin(), units.end()));
  EXPECT_EQ(from_default_codepage(std::string(units.begin(), units.end())), u"CAF\u00e9 \u20ac");
  EXPECT_EQ(code_page_units(u""), text());
  EXPECT_EQ(code_page_units(u"CUST,HIST"), text(u"CUST,HIST"));
  EXPECT_EQ(code_page_units(u"CAF\u00e9 \u20ac"), units);
  EXPECT_EQ(code_page_units(c->outside), std::nullopt);
  EXPECT_EQ(code_page_units(u"A" + c->outside + u"B"), std::nullopt);
  EXPECT_EQ(from_code_page_units(units), u"CAF\u00e9 \u20ac");
  EXPECT_EQ(from_code_page_units(u""), text());
  EXPECT_EQ(from_code_page_units(u"\u00e9\u20ac"), u"\u00e9\u20ac");  // above 0xFF: sent as 16-bit text
  // Every byte the code page maps to a character of its own survives the round trip.
  for (char16_t byte = 1; byte <= 0xFF; ++byte) {
    const text one = from_code_page_units(text(1, byte));
    if (const std::optional<text> again = code_page_units(one); again && one != u"\uFFFD") {
      EXPECT_EQ(*again, text(1, byte)) << static_cast<int>(byte);
    }
  }
}

std::wstring ftfscmd_line(const std::wstring& file, const std::wstring& item) {
  return L"17 \"FTFSCMD\" \"ECHO\" \"" + file + L"\\u000d\\u000a" + item + L"\\u000d\\u000a\\u000d\\u000a\"\n";
}

TEST(code_page_units, FaultComponentReceivesCodePageUnitsOrNoCallAtAll) {
  CODE_PAGE_CASE(c);
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
      {"CUST/CUST/C1", 200, echoed, ftfscmd_line(L"CUST", L"C1")},
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

// ombrix-host.dll (registered by scripts/test-windows.sh, account WINTEST) reads lines 1 and 2
// back through the code page (the end-to-end cmd ECHO shows them); lines 3 and 4 stay 16-bit
// text, and so does a line already in 16-bit form; other subroutines get the text as it is.
TEST(code_page_units, HostComponentReadsOnlyLinesOneAndTwoThroughTheCodePage) {
  CODE_PAGE_CASE(c);
  const std::shared_ptr<velquor_base> host = create_host_server(settings{.host_version = 80}, "WINTEST**t");
  ASSERT_NE(host, nullptr);
  const text item = host->command_parameter_name(u"\u20ac1").value();
  EXPECT_EQ(host->call_subroutine(u"FTFSCMD", u"ECHO", u"\u0416\r\n" + item + u"\r\n\u00e9\r\n" + c->euro),
            u"ECHO\r\n\u0416\r\n\u20ac1\r\n\u00e9\r\n" + c->euro);
  EXPECT_EQ(host->call_subroutine(u"ECHO", u"", c->euro), c->euro);
}

}  // namespace
}  // namespace ombrix
