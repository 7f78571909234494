// The COM bindings against the fault component: what each operation passes to which method,
// what comes back, and how creation, connection and operation failures surface.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "host/text.h"
#include "tests/win/fault_support.h"

namespace ombrix::fault {
namespace {

text number(int value) {
  const std::string digits = std::to_string(value);
  return text(digits.begin(), digits.end());
}
struct operation_case {
  std::function<text(velquor_base&)> run;  // the result as text ("" for none)
  std::wstring call;                       // the journal line
  text result;                             // what the recorder's answer becomes
};
const text item_answer(item_text, item_text_length);
const std::vector<operation_case> operations = {
    {[](velquor_base& h) { h.connect(u"SRV**c"); return text(); }, L"7 \"SRV**c\"", u""},
    {[](velquor_base& h) { return h.get_server_name(); }, L"32", u"m32"},
    {[](velquor_base& h) { return h.get_property_2(); }, L"33", u"m33"},
    {[](velquor_base& h) { return h.get_property_3(); }, L"34", u"m34"},
    {[](velquor_base& h) { return h.get_property_4(); }, L"35", u"m35"},
    {[](velquor_base& h) { return h.get_property_5(); }, L"36", u"m36"},
    {[](velquor_base& h) { return h.read_item(u"CUST", u"1", 0, 0, 0, 0); }, L"10 \"CUST\" \"1\" 0 0 0 0", item_answer},
    // Names end at their first NUL; contents keep theirs; empty text is a null BSTR.
    {[](velquor_base& h) { return h.read_item(text(u"F\0G", 3), u"\u00e9", 1, 2, 3, -1); }, L"10 \"F\" \"\\u00e9\" 1 2 3 -1", item_answer},
    {[](velquor_base& h) { h.write_item(u"F", u"I", text(u"x\0y", 3), 0, 0, 0, 4); return text(); }, L"11 \"F\" \"I\" \"x\\u0000y\" 0 0 0 4", u""},
    {[](velquor_base& h) { h.create_item(u"F", u"I", u""); return text(); }, L"12 \"F\" \"I\" null", u""},
    {[](velquor_base& h) { h.create_item(u"F", u"I", u"a\uF8FDb\r\n"); return text(); }, L"12 \"F\" \"I\" \"a\\uf8fdb\\u000d\\u000a\"", u""},
    {[](velquor_base& h) { h.delete_item(u"F", u"I"); return text(); }, L"13 \"F\" \"I\"", u""},
    {[](velquor_base& h) { return h.stat_item(u"F", u"I", u"-1\uF8FD-2"); }, L"38 \"F\" \"I\" \"-1\\uf8fd-2\"", u"m38"},
    {[](velquor_base& h) { return number(h.query_flag_1(u"a")); }, L"39 \"a\"", u"-1"},
    {[](velquor_base& h) { return number(h.query_flag_2(u"a", u"b")); }, L"40 \"a\" \"b\"", u"7"},
    {[](velquor_base& h) { return h.list_items(u"F", 16, 5, u"", u"-1"); }, L"37 \"F\" 16 5 null \"-1\"", u"m37"},
    {[](velquor_base& h) { h.invoke_pair(u"a", u"b"); return text(); }, L"15 \"a\" \"b\"", u""},
    {[](velquor_base& h) { return h.query_text_1(u"a", u"", 1); }, L"16 \"a\" null 1", u"m16"},
    {[](velquor_base& h) { return h.call_subroutine(u"FTFSCMD", u"", u"p q"); }, L"17 \"FTFSCMD\" null \"p q\"", u"m17"},
    {[](velquor_base& h) { return h.query_text_2(-42, u"a"); }, L"41 -42 \"a\"", u"m41"},
    {[](velquor_base& h) { h.quit(); return text(); }, L"9", u""},
};

TEST(velquor_com, EachOperationCallsItsMethodAndReturnsTheAnswer) {
  for (const operation_case& c : operations) {
    SCOPED_TRACE(c.call);
    for (const int generation : {71, 80}) {
      fault_binding host(progid_of(mode::recorder), generation);
      reset_journal();
      EXPECT_EQ(c.run(host), c.result);
      EXPECT_EQ(journal(), c.call + L"\n");
    }
  }
}

// The description is the one offered for the 7.1 identifier, for both generations; on the wire
// it is the reply's message, the code its host error number.
TEST(velquor_com, FailureCarriesTheCodeAndThe71DescriptionToTheReply) {
  const std::string not_here = "Item not here: \xC3\xA9t\xC3\xA9";
  const struct {
    mode which;
    hresult code;
    text description;
    int status;
    std::string reply;  // of GET file/SALES/CUST/X
  } cases[] = {
      {mode::fails_with_info, operation_failure, operation_failure_text, 404, error_reply(404, not_here, "201")},
      {mode::fails_80_only, operation_failure, u"", 404, error_reply(404, "", "201")},
      {mode::fails_no_support, operation_failure, u"", 404, error_reply(404, "", "201")},
      {mode::fails_no_info, e_fail, u"", 500, error_reply(500, "", "80004005")},
  };
  for (const auto& c : cases) {
    for (const int generation : {71, 80}) {
      SCOPED_TRACE(std::to_string(static_cast<int>(c.which)) + " " + std::to_string(generation));
      {
        fault_binding host(progid_of(c.which), generation);
        for (int attempt = 0; attempt < 2; ++attempt) {  // a failure leaves the object usable
          try {
            host.read_item(u"F", u"I", 0, 0, 0, 0);
            ADD_FAILURE() << "no error";
          } catch (const _com_error& error) {
            EXPECT_EQ(error.Error(), c.code);
            EXPECT_EQ(error.Description(), c.description);
          }
        }
      }
      std::string reply;
      EXPECT_EQ(serve(c.which, generation, "GET", "file/SALES/CUST/X", reply), c.status);
      EXPECT_EQ(reply, c.reply);
      EXPECT_EQ(journal(), L"28 1\n47 -1\n7 \"SRV**\"\n10 \"DICT CUST\" \"X\" 0 0 0 0\n");
      EXPECT_EQ(live_objects(), 0);
    }
  }
}

// connected_host as create_host_server uses it, for both generations: the binding applies both
// settings, then connects. A failure anywhere leaves no object, writes its diagnostic line at
// level 1 and up, byte-exact (the description in the default 8-bit code page, whose bytes
// code_page_units_test.cc pins), and rethrows the same error. A connect answering false with
// S_OK counts as connected.
TEST(connected_host, AppliesBothSettingsAndConnectsOrWritesTheFailureLineAndRethrows) {
  const std::string created = "Failed to create instance of Velquorr.Server [";
  const std::string connect_line = "Failed to connect to server 'SRV**c' [0x80040123 Server refused: caf" + to_default_codepage(u"\u00e9") + "]\n";
  const std::wstring settled = L"28 1\n47 -1\n7 \"SRV**c\"\n";
  const struct {
    const wchar_t* progid;
    int level;
    hresult code;  // 0: connected
    text description;
    std::wstring calls;  // what reached the component
    std::string line;
  } cases[] = {
      {progid_of(mode::recorder), 1, 0, u"", settled + L"32\n", ""},
      {progid_of(mode::connect_false), 1, 0, u"", settled + L"32\n", ""},
      {unregistered_progid, 1, static_cast<hresult>(0x800401F3) /* CO_E_CLASSSTRING */, u"", L"", created + "0x800401f3 ]\n"},
      {progid_of(mode::no_generation), 1, e_nointerface, u"", L"", created + "0x80004002 ]\n"},
      {progid_of(mode::setting_fails), 1, setting_failure, setting_failure_text, L"28 1\n", created + "0x80070005 Setting refused]\n"},
      {progid_of(mode::connect_fails), 1, connect_failure, connect_failure_text, settled, connect_line},
      {progid_of(mode::connect_fails), 2, connect_failure, connect_failure_text, settled, connect_line},
      {progid_of(mode::connect_fails), 0, connect_failure, connect_failure_text, settled, ""},
  };
  for (const auto& c : cases) {
    for (const int generation : {71, 80}) {
      SCOPED_TRACE(std::to_string(generation) + " " + c.line);
      reset_journal();
      ::testing::internal::CaptureStderr();
      try {
        const auto host = connected_host([&] { return std::make_shared<fault_binding>(c.progid, generation); }, "SRV**c", settings{.debug_level = c.level});
        EXPECT_EQ(live_objects(), 1);
        EXPECT_EQ(host->get_server_name(), u"m32");
        EXPECT_EQ(c.code, 0) << "no error";
      } catch (const _com_error& error) {
        EXPECT_EQ(error.Error(), c.code);
        EXPECT_EQ(error.Description(), c.description);
      }
      EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
      EXPECT_EQ(journal(), c.calls);
      EXPECT_EQ(live_objects(), 0);
    }
  }
}

}  // namespace
}  // namespace ombrix::fault
