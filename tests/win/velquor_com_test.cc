// The COM bindings against the fault component: what each operation passes to which method,
// what comes back, and how creation, connection and operation failures surface.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "base/settings.h"
#include "host/factory/connected_host.h"
#include "host/text.h"
#include "tests/win/fault_support.h"

namespace ombrix::fault {
namespace {

constexpr int generations[] = {71, 80};

text units(const char16_t* first, std::size_t count) { return text(first, count); }
text number_text(int value) {
  const std::string digits = std::to_string(value);
  return text(digits.begin(), digits.end());
}

struct operation_case {
  const char* name;
  std::function<text(velquor_base&)> run;  // the result as text ("" for none)
  std::wstring call;                       // the journal line
  text result;                             // what the recorder's answer becomes
};

const std::vector<operation_case>& operation_cases() {
  static const std::vector<operation_case> cases = {
      {"Connect", [](velquor_base& h) { h.connect(u"SRV**c"); return text(); }, L"7 \"SRV**c\"",
       u""},
      {"ServerName", [](velquor_base& h) { return h.get_server_name(); }, L"32", u"m32"},
      {"Property2", [](velquor_base& h) { return h.get_property_2(); }, L"33", u"m33"},
      {"Property3", [](velquor_base& h) { return h.get_property_3(); }, L"34", u"m34"},
      {"Property4", [](velquor_base& h) { return h.get_property_4(); }, L"35", u"m35"},
      {"Property5", [](velquor_base& h) { return h.get_property_5(); }, L"36", u"m36"},
      {"ReadItem", [](velquor_base& h) { return h.read_item(u"CUST", u"1", 0, 0, 0, 0); },
       L"10 \"CUST\" \"1\" 0 0 0 0", units(item_text, item_text_length)},
      {"ReadItemNameEndsAtNul",
       [](velquor_base& h) { return h.read_item(units(u"F\0G", 3), u"\u00e9", 1, 2, 3, -1); },
       L"10 \"F\" \"\\u00e9\" 1 2 3 -1", units(item_text, item_text_length)},
      {"WriteItemKeepsNul",
       [](velquor_base& h) {
         h.write_item(u"F", u"I", units(u"x\0y", 3), 0, 0, 0, 4);
         return text();
       },
       L"11 \"F\" \"I\" \"x\\u0000y\" 0 0 0 4", u""},
      {"CreateItemEmptyContentIsNull",
       [](velquor_base& h) { h.create_item(u"F", u"I", u""); return text(); },
       L"12 \"F\" \"I\" null", u""},
      {"CreateItemWithContent",
       [](velquor_base& h) { h.create_item(u"F", u"I", u"a\uF8FDb\r\n"); return text(); },
       L"12 \"F\" \"I\" \"a\\uf8fdb\\u000d\\u000a\"", u""},
      {"DeleteItem", [](velquor_base& h) { h.delete_item(u"F", u"I"); return text(); },
       L"13 \"F\" \"I\"", u""},
      {"StatItem", [](velquor_base& h) { return h.stat_item(u"F", u"I", u"-1\uF8FD-2"); },
       L"38 \"F\" \"I\" \"-1\\uf8fd-2\"", u"m38"},
      {"QueryFlag1", [](velquor_base& h) { return number_text(h.query_flag_1(u"a")); },
       L"39 \"a\"", u"-1"},
      {"QueryFlag2", [](velquor_base& h) { return number_text(h.query_flag_2(u"a", u"b")); },
       L"40 \"a\" \"b\"", u"7"},
      {"ListItems", [](velquor_base& h) { return h.list_items(u"F", 16, 5, u"", u"-1"); },
       L"37 \"F\" 16 5 null \"-1\"", u"m37"},
      {"InvokePair", [](velquor_base& h) { h.invoke_pair(u"a", u"b"); return text(); },
       L"15 \"a\" \"b\"", u""},
      {"QueryText1", [](velquor_base& h) { return h.query_text_1(u"a", u"", 1); },
       L"16 \"a\" null 1", u"m16"},
      {"CallSubroutine",
       [](velquor_base& h) { return h.call_subroutine(u"FTFSCMD", u"", u"p q"); },
       L"17 \"FTFSCMD\" null \"p q\"", u"m17"},
      {"QueryText2", [](velquor_base& h) { return h.query_text_2(-42, u"a"); },
       L"41 -42 \"a\"", u"m41"},
      {"Quit", [](velquor_base& h) { h.quit(); return text(); }, L"9", u""},
  };
  return cases;
}

class operation_test : public ::testing::TestWithParam<operation_case> {};

TEST_P(operation_test, CallsItsMethodWithTheArgumentsAndReturnsTheAnswer) {
  for (const int generation : generations) {
    SCOPED_TRACE(generation);
    fault_binding host(progid_of(mode::recorder), generation);
    reset_journal();
    EXPECT_EQ(GetParam().run(host), GetParam().result);
    EXPECT_EQ(journal(), GetParam().call + L"\n");
  }
}

TEST_P(operation_test, NullResultIsEmptyText) {
  fault_binding host(progid_of(mode::null_results), 80);
  reset_journal();
  const text result = GetParam().run(host);
  EXPECT_EQ(journal(), GetParam().call + L"\n");
  // Flags are numbers, not texts: they answer as the recorder does.
  if (GetParam().result != u"-1" && GetParam().result != u"7") {
    EXPECT_EQ(result, u"");
  }
}

TEST_P(operation_test, EmptyServerFailsWithEPointerWithoutACall) {
  fault_binding host(progid_of(mode::no_unknown), 80);
  EXPECT_EQ(live_objects(), 0);  // m_server stayed empty, so the instance is gone
  reset_journal();
  try {
    GetParam().run(host);
    ADD_FAILURE() << "no error";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), e_pointer);
    EXPECT_EQ(error.Description(), u"");
  }
  EXPECT_EQ(journal(), L"");
}

INSTANTIATE_TEST_SUITE_P(fault_component, operation_test, ::testing::ValuesIn(operation_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(binding_construction, AppliesBothSettingsAndReleasesTheInstanceAtTheEnd) {
  for (const int generation : generations) {
    reset_journal();
    {
      fault_binding host(progid_of(mode::recorder), generation);
      EXPECT_EQ(journal(), L"28 1\n47 -1\n");
      EXPECT_EQ(live_objects(), 1);
    }
    EXPECT_EQ(live_objects(), 0);
  }
}

struct creation_case {
  const char* name;
  const wchar_t* progid;
  hresult code;
  text description;
  std::wstring calls;  // what reached the component
};

class creation_failure_test : public ::testing::TestWithParam<creation_case> {};

TEST_P(creation_failure_test, ThrowsTheFailureAndLeavesNothingBehind) {
  const creation_case& c = GetParam();
  for (const int generation : generations) {
    SCOPED_TRACE(generation);
    reset_journal();
    try {
      fault_binding host(c.progid, generation);
      ADD_FAILURE() << "constructed";
    } catch (const _com_error& error) {
      EXPECT_EQ(error.Error(), c.code);
      EXPECT_EQ(error.Description(), c.description);
    }
    EXPECT_EQ(journal(), c.calls);
    EXPECT_EQ(live_objects(), 0);
  }
}

INSTANTIATE_TEST_SUITE_P(
    fault_component, creation_failure_test,
    ::testing::Values(
        creation_case{"UnregisteredProgId", unregistered_progid,
                      static_cast<hresult>(0x800401F3) /* CO_E_CLASSSTRING */, u"", L""},
        creation_case{"NoGenerationInterface", progid_of(mode::no_generation), e_nointerface,
                      u"", L""},
        creation_case{"SettingFailsWithItsDescription", progid_of(mode::setting_fails),
                      setting_failure, setting_failure_text, L"28 1\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct error_info_case {
  const char* name;
  mode which;
  hresult code;
  text description;  // the same for both generations: the 7.1 identifier is asked for
};

class operation_failure_test : public ::testing::TestWithParam<error_info_case> {};

TEST_P(operation_failure_test, CarriesTheCodeAndTheDescriptionOfferedFor71) {
  const error_info_case& c = GetParam();
  for (const int generation : generations) {
    SCOPED_TRACE(generation);
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
  EXPECT_EQ(live_objects(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    fault_component, operation_failure_test,
    ::testing::Values(
        error_info_case{"WithInformation", mode::fails_with_info, operation_failure,
                        operation_failure_text},
        error_info_case{"InformationOnlyFor80", mode::fails_80_only, operation_failure, u""},
        error_info_case{"NoSupportErrorInfo", mode::fails_no_support, operation_failure, u""},
        error_info_case{"EFailWithoutInformation", mode::fails_no_info, e_fail, u""},
        error_info_case{"DescriptionRefused", mode::fails_bad_description, operation_failure,
                        u""}),
    [](const auto& info) { return std::string(info.param.name); });

// connected_host as create_host_server uses it, with the fault classes.
std::function<std::shared_ptr<velquor_base>()> maker(const wchar_t* progid) {
  return [progid] { return std::make_shared<fault_binding>(progid, 80); };
}

struct line_case {
  const char* name;
  const wchar_t* progid;
  int level;
  hresult code;
  std::string line;  // standard error, byte-exact
};

// The description is written in the default 8-bit code page (its bytes there are pinned by
// code_page_test.cc).
const std::string connect_line =
    "Failed to connect to server 'SRV**c' [0x80040123 Server refused: caf" +
    to_default_codepage(u"\u00e9") + "]\n";

class diagnostic_line_test : public ::testing::TestWithParam<line_case> {};

TEST_P(diagnostic_line_test, WritesTheLineAndRethrowsTheSameError) {
  const line_case& c = GetParam();
  const settings config{.debug_level = c.level};
  ::testing::internal::CaptureStderr();
  try {
    connected_host(maker(c.progid), "SRV**c", config);
    ADD_FAILURE() << "no error";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), c.code);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line);
  EXPECT_EQ(live_objects(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    fault_component, diagnostic_line_test,
    ::testing::Values(
        line_case{"Unregistered", unregistered_progid, 1, static_cast<hresult>(0x800401F3),
                  "Failed to create instance of Velquorr.Server [0x800401f3 ]\n"},
        line_case{"SettingFails", progid_of(mode::setting_fails), 1, setting_failure,
                  "Failed to create instance of Velquorr.Server [0x80070005 Setting refused]"
                  "\n"},
        line_case{"ConnectFails", progid_of(mode::connect_fails), 1, connect_failure,
                  connect_line},
        line_case{"ConnectFailsLevel2", progid_of(mode::connect_fails), 2, connect_failure,
                  connect_line},
        line_case{"QuietAtLevel0", progid_of(mode::connect_fails), 0, connect_failure, ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(connected_host, ConnectAnsweringFalseCountsAsConnected) {
  const settings config{.debug_level = 1};
  reset_journal();
  ::testing::internal::CaptureStderr();
  const auto host = connected_host(maker(progid_of(mode::connect_false)), "SRV**c", config);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->get_server_name(), u"m32");
  EXPECT_EQ(journal(), L"28 1\n47 -1\n7 \"SRV**c\"\n32\n");
}

}  // namespace
}  // namespace ombrix::fault
