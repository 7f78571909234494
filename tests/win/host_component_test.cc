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

// create_host_server at debug level 1 must throw: the code, the description, the line written.
void expect_failure(int generation, const std::string& server, hresult code, const text& description, const std::string& line) {
  ::testing::internal::CaptureStderr();
  try {
    create_host_server(settings{.debug_level = 1, .host_version = generation}, server);
    ADD_FAILURE() << "created";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), code);
    EXPECT_EQ(error.Description(), description);
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), line);
}

TEST(create_host_server, BothGenerationsRoundTripAnItemAndReportAMissingAccount) {
  const text content(u"a\uF8FDb\uF8FCc\r\nd\0e\xD83D\xDE00", 12);
  for (const int generation : {71, 80}) {
    SCOPED_TRACE(generation);
    const std::shared_ptr<velquor_base> host = create_host_server(settings{.host_version = generation}, "WINTEST**t");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->get_server_name(), u"WINTEST");
    EXPECT_EQ(host->get_property_3(), u"WINTEST");
    EXPECT_EQ(host->get_property_5(), u"MD");
    const text item = generation == 71 ? u"I71" : u"I80";
    if (generation == 71) {  // 7.1 creates empty, then writes
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
    expect_failure(generation, "NOSUCH**t", host_error_code(201), u"Account 'NOSUCH' not found.",
                   "Failed to connect to server 'NOSUCH**t' [0x800400c9 Account 'NOSUCH' not found.]\n");
  }
}

TEST(create_host_server, OtherGenerationIsENoInterfaceWithTheCreateLine) {
  expect_failure(72, "WINTEST**t", e_nointerface, u"", "Failed to create instance of Velquorr.Server [0x80004002 ]\n");
}

}  // namespace
}  // namespace ombrix
