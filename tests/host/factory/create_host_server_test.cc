// The embedded store's hosts as host_store makes them for the server.
#include "host/factory/host_store.h"

#include <gtest/gtest.h>

#include "host/embedded/embedded_host.h"
#include "base/settings.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

class CreateHostServer : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    store_ = host_store::open({"", root_, "", ""});
  }
  std::shared_ptr<host_store> store_;
};

TEST_F(CreateHostServer, BothGenerationsGetAConnectedEmbeddedHost) {
  EXPECT_EQ(store_->postgresql(), nullptr);
  for (int version : {71, 80}) {
    auto host = store_->create(settings{.host_version = version}, "SALES**caf\xC3\xA9");
    ASSERT_NE(dynamic_cast<embedded_host*>(host.get()), nullptr);
    EXPECT_EQ(to_utf8(host->get_server_name()) + " " + to_utf8(host->get_property_4()), "SALES " + root_ + "/SALES.db");
    EXPECT_EQ(host->get_property_2(), u"caf\u00E9") << "server text read as UTF-8";
    host->write_item(u"MD", u"V" + from_utf8(std::to_string(version)), u"x", 0, 0, 0, 0);
  }
}

// Failures are rethrown after their line at debug level 1 (no interface) or 2 (connect).
TEST_F(CreateHostServer, FailuresAreRethrownAndLoggedByDebugLevel) {
  const std::string no_instance = "Failed to create instance of Velquorr.Server [0x80004002 ]\n";
  const std::string not_found = "Failed to connect to server 'NOPE**c' [0x800400c9 Account 'NOPE' not found.]\n";
  const struct {
    int version, debug;
    const char* server;
    hresult code;
    text description;
    std::string logged;
  } rows[] = {
      {0, 1, "SALES**", e_nointerface, u"", no_instance},
      {72, 1, "SALES**", e_nointerface, u"", no_instance},
      {81, 1, "SALES**", e_nointerface, u"", no_instance},
      {5, 0, "SALES**", e_nointerface, u"", ""},
      {80, 1, "NOPE**c", host_error_code(201), u"Account 'NOPE' not found.", not_found},
      {80, 0, "NOPE**c", host_error_code(201), u"Account 'NOPE' not found.", ""},
      {71, 0, "../x**c", host_error_code(201), u"'../x' is not a valid account name.", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(std::string(r.server) + " " + std::to_string(r.version));
    ::testing::internal::CaptureStderr();
    try {
      store_->create(settings{.debug_level = r.debug, .host_version = r.version}, r.server);
      ADD_FAILURE() << "no error";
    } catch (const _com_error& error) {
      EXPECT_EQ(error.Error(), r.code);
      EXPECT_EQ(error.Description(), r.description);
    }
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), r.logged);
  }
}

}  // namespace
}  // namespace ombrix
