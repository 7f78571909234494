#include "host/create_host_server.h"

#include <gtest/gtest.h>

#include "host/embedded/embedded_host.h"
#include "server/settings.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

// Restores the settings the tests change.
class CreateHostServer : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    saved_version_ = host_version;
    saved_debug_ = debug_level;
    make_account(u"SALES");
  }
  void TearDown() override {
    host_version = saved_version_;
    debug_level = saved_debug_;
    temporary_data_root::TearDown();
  }
  int saved_version_ = 80;
  int saved_debug_ = 0;
};

TEST_F(CreateHostServer, BothGenerationsGetAConnectedEmbeddedHost) {
  for (int version : {71, 80}) {
    host_version = version;
    std::shared_ptr<velquor_base> host = create_host_server("SALES**vscode");
    ASSERT_NE(host, nullptr);
    EXPECT_NE(dynamic_cast<embedded_host*>(host.get()), nullptr);
    EXPECT_EQ(host->get_server_name(), u"SALES");
    host->write_item(u"MD", u"V" + from_utf8(std::to_string(version)), u"x", 0, 0, 0, 0);
  }
}

TEST_F(CreateHostServer, OtherGenerationsAreNoInterfaceAndLogged) {
  debug_level = 1;
  for (int version : {0, 72, 81}) {
    host_version = version;
    ::testing::internal::CaptureStderr();
    try {
      create_host_server("SALES**");
      ADD_FAILURE() << "no error for " << version;
    } catch (const _com_error& error) {
      EXPECT_EQ(error.Error(), e_nointerface);
      EXPECT_TRUE(error.Description().empty());
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Failed to create instance of Velquorr.Server [0x80004002 ]\n");
  }
}

TEST_F(CreateHostServer, ConnectFailureIsLoggedWithServerCodeAndDescription) {
  host_version = 80;
  debug_level = 2;
  ::testing::internal::CaptureStderr();
  try {
    create_host_server("NOPE**c");
    ADD_FAILURE() << "no error";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), host_error_code(201));
    EXPECT_EQ(error.Description(), u"Account 'NOPE' not found.");
  }
  EXPECT_EQ(::testing::internal::GetCapturedStderr(),
            "Failed to connect to server 'NOPE**c' [0x800400c9 Account 'NOPE' not found.]\n");
}

TEST_F(CreateHostServer, NothingIsLoggedAtDebugLevelZero) {
  debug_level = 0;
  host_version = 71;
  ::testing::internal::CaptureStderr();
  EXPECT_THROW(create_host_server("../x**c"), _com_error);
  host_version = 5;
  EXPECT_THROW(create_host_server("SALES**"), _com_error);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(CreateHostServer, ServerTextIsReadInTheDefaultCodePage) {
  host_version = 80;
  // UTF-8 here: the client name keeps its accented letter.
  std::shared_ptr<velquor_base> host = create_host_server("SALES**caf\xC3\xA9");
  EXPECT_EQ(host->get_property_2(), u"caf\u00E9");
}

}  // namespace
}  // namespace ombrix
