// velquor71 and velquor80 through create_host_server against the registered ombrix-host.dll.
// scripts/test-windows.sh registers it and creates the account WINTEST with the file CUST in
// the data root named by OMBRIX_DATA.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/settings.h"
#include "host/factory/create_host_server.h"

namespace ombrix {
namespace {

class host_component_test : public ::testing::TestWithParam<int> {};

TEST_P(host_component_test, ConnectsAndRoundTripsAnItemWithMarksAndNul) {
  const std::shared_ptr<velquor_base> host = create_host_server(settings{.host_version = GetParam()}, "WINTEST**t");
  ASSERT_NE(host, nullptr);
  EXPECT_EQ(host->get_server_name(), u"WINTEST");
  EXPECT_EQ(host->get_property_3(), u"WINTEST");
  EXPECT_EQ(host->get_property_5(), u"MD");
  const text item = GetParam() == 71 ? u"I71" : u"I80";
  const text content(u"a\uF8FDb\uF8FCc\r\nd\0e\xD83D\xDE00", 12);
  if (GetParam() == 71) {  // 7.1 creates empty, then writes
    host->create_item(u"CUST", item, u"");
    host->write_item(u"CUST", item, content, 0, 0, 0, 0);
  } else {
    host->create_item(u"CUST", item, content);
  }
  EXPECT_EQ(host->read_item(u"CUST", item, 0, 0, 0, 0), content);
  host->delete_item(u"CUST", item);
  try {
    host->read_item(u"CUST", item, 0, 0, 0, 0);
    ADD_FAILURE() << "deleted item still read";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), host_error_code(202));
    EXPECT_NE(error.Description(), u"");  // the component's own text, through IErrorInfo
  }
}

TEST_P(host_component_test, MissingAccountIsTheConnectFailureWithItsDescription) {
  ::testing::internal::CaptureStderr();
  try {
    create_host_server(settings{.debug_level = 1, .host_version = GetParam()}, "NOSUCH**t");
    ADD_FAILURE() << "connected";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), host_error_code(201));
    EXPECT_EQ(error.Description(), u"Account 'NOSUCH' not found.");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Failed to connect to server 'NOSUCH**t' [0x800400c9 Account 'NOSUCH' not found.]\n");
}

INSTANTIATE_TEST_SUITE_P(
    ombrix_host, host_component_test, ::testing::Values(71, 80),
    [](const auto& info) { return "Generation" + std::to_string(info.param); });

TEST(create_host_server, OtherGenerationIsENoInterfaceWithTheCreateLine) {
  ::testing::internal::CaptureStderr();
  try {
    create_host_server(settings{.debug_level = 1, .host_version = 72}, "WINTEST**t");
    ADD_FAILURE() << "created";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), e_nointerface);
    EXPECT_EQ(error.Description(), u"");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Failed to create instance of Velquorr.Server [0x80004002 ]\n");
}

}  // namespace
}  // namespace ombrix
