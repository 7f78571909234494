#include "host/embedded/embedded_host.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "host/embedded/account_store.h"
#include "tests/host/host_contract.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

using testing::failure_of;
using failure = std::pair<int, std::string>;

// An account SALES with file CUST (sections CUST and HIST), connected as a host object.
class EmbeddedHost : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    stores().open(u"SALES")->create_file(u"CUST", {u"HIST"});
    host_ = connected(u"SALES**dev");
  }
  std::unique_ptr<embedded_host> connected(const text& server) {
    auto host = std::make_unique<embedded_host>(stores());
    host->connect(server);
    return host;
  }
  std::unique_ptr<embedded_host> host_;
};

TEST_F(EmbeddedHost, KeepsTheHostContract) { testing::check_host_contract(*host_); }

TEST_F(EmbeddedHost, InvalidAccountNamesAre201AndNeverBecomePaths) {
  const auto entries = [](const std::filesystem::path& directory) {
    return std::distance(std::filesystem::directory_iterator(directory), {});
  };
  const auto before = entries(base_);
  for (const text& server : {text(u"../x**"), text(u"/etc/passwd**"), text(u"a") + text(1, u'\0') + u"b**"}) {
    const auto [number, description] = failure_of([&] { connected(server); });
    EXPECT_EQ(number, 201) << to_utf8(server);
    EXPECT_TRUE(description.ends_with("' is not a valid account name.")) << description;
  }
  EXPECT_EQ(failure_of([&] { connected(u"NOPE**c"); }), (failure{201, "Account 'NOPE' not found."}));
  EXPECT_EQ(entries(base_), before) << "nothing appeared beside the data root";
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    EXPECT_EQ(entry.path().filename().string().rfind("SALES.db", 0), 0u) << entry.path();
  }
}

// Regression: an account database that was a symbolic link was followed out of the data root.
// Also: a database that is not one of this host's is 206.
TEST_F(EmbeddedHost, AccountFilesThatAreLinksOrNotRegularFilesAre201AndUnreadableOnes206) {
  namespace fs = std::filesystem;
  const fs::path elsewhere = base_ / "elsewhere.db";
  fs::copy_file(fs::path(root_) / "SALES.db", elsewhere);
  fs::create_symlink(elsewhere, fs::path(root_) / "LINKED.db");
  fs::create_directory(fs::path(root_) / "FOLDER.db");
  for (const char16_t* server : {u"LINKED**", u"FOLDER**"}) {
    const auto [number, description] = failure_of([&] { connected(server); });
    EXPECT_EQ(number, 201) << to_utf8(server);
    EXPECT_TRUE(description.ends_with("its database is not a regular file.")) << description;
  }
  std::ofstream(root_ + "/EMPTY.db", std::ios::binary).close();
  EXPECT_EQ(failure_of([&] { connected(u"EMPTY**"); }),
            (failure{206, "Storage failure in account 'EMPTY': the database is not an account "
                          "database of this host."}));
}

// Every content reads back unchanged through another host object, which also sees the items of
// sections, and quit leaves the account usable.
TEST_F(EmbeddedHost, ContentRoundTripsLosslesslyToEveryHostObject) {
  text every_unit;
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) every_unit.push_back(char16_t(unit));
  const std::vector<text> contents = {
      u"A\r\nB\xF8FD" u"C\xF8FC" u"D", text(u"A") + text(1, u'\0') + u"B" + text(1, u'\0'),
      u"bare\rCR and bare\nLF\r", text{u'x', char16_t(0xDFFF)}, text{char16_t(0xDE00), char16_t(0xD83D)},
      u"\xF8FB\xF8FC\xF8FD\xF8FE\xF8FF", every_unit, text(300000, u'\x4E2D'),
  };
  for (std::size_t i = 0; i < contents.size(); ++i) {
    // Appending rather than "L" + ...: g++ 12 reports a false -Wrestrict on the latter.
    const text id = from_utf8(std::string("L").append(std::to_string(i)));
    host_->write_item(u"CUST,HIST", id, contents[i], 0, 0, 0, 0);
    EXPECT_EQ(connected(u"SALES**")->read_item(u"CUST,HIST", id, 0, 0, 0, 0), contents[i]) << i;
    EXPECT_EQ(host_->stat_item(u"CUST,HIST", id, u"-1"),
              u"0\r\n" + from_utf8(std::to_string(to_utf8(contents[i]).size()))) << i;
  }
  host_->quit();
  EXPECT_EQ(connected(u"SALES**")->read_item(u"CUST,HIST", u"L0", 0, 0, 0, 0), contents[0]);
}

}  // namespace
}  // namespace ombrix
