// Creating account databases.
#include "host/embedded/account_creation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <tuple>
#include <sys/stat.h>
#include <vector>

#include "../temporary_data_root.h"
#include "host/embedded/account_store.h"

namespace ombrix {
namespace {

class AccountCreation : public testing::temporary_data_root {
 protected:
  std::vector<std::string> files_in_root() const {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto& entry : std::filesystem::directory_iterator(root_, ignored)) {
      names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

TEST_F(AccountCreation, MakesOneFileWithTheMasterDictionaryAndItsOwnPointer) {
  create_account(root_, u"SALES", u"VOC");
  EXPECT_EQ(files_in_root(), std::vector<std::string>{"SALES.db"});
  auto store = stores().open(u"SALES");
  EXPECT_EQ(store->md_name(), u"VOC");
  EXPECT_EQ(store->read(u"VOC", u"VOC"), u"F\r\nVOC\r\nDICT VOC");
  // The dictionary holds only its data section.
  EXPECT_EQ(store->list(u"DICT VOC", 0, 0), u"DICT VOC\r\nVOC\uF8FC16\uF8FC0");
  EXPECT_EQ(std::filesystem::status(root_).permissions() & std::filesystem::perms::all,
            std::filesystem::perms::owner_all);
}

// Under umask 0 in a data root of mode 0755, the database and the -wal and -shm files SQLite makes
// beside it were world-readable (0644): another local user could read every item.
TEST_F(AccountCreation, AccountFilesArePrivateWhateverTheUmaskAndTheRootMode) {
  namespace fs = std::filesystem;
  fs::create_directories(root_);
  fs::permissions(root_, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                             fs::perms::others_read | fs::perms::others_exec);
  const mode_t old_mask = umask(0);
  create_account(root_, u"SALES", u"MD");
  {
    auto store = stores().open(u"SALES");
    store->write(u"MD", u"X", u"secret");  // the log and the shared-memory file exist from here
    for (const char* suffix : {"", "-wal", "-shm"}) {
      SCOPED_TRACE(suffix);
      const fs::path file = fs::path(root_) / (std::string("SALES.db") + suffix);
      ASSERT_TRUE(fs::exists(file));
      EXPECT_EQ(fs::status(file).permissions() & fs::perms::all,
                fs::perms::owner_read | fs::perms::owner_write);
    }
  }
  umask(old_mask);
}

TEST_F(AccountCreation, RefusalsLeaveNoFileBehind) {
  create_account(root_, u"SALES", u"MD");
  const std::string rule = " (it must be 1 to 255 characters without control characters, ',', '/', '*' or marks, and not start with \"DICT \").";
  const std::tuple<text, text, int, std::string> cases[] = {
      {u"SALES", u"MD", 204, "Account 'SALES' already exists."},
      {u"../x", u"MD", 201, "'../x' is not a valid account name."},
      {u"", u"MD", 201, "'' is not a valid account name."},
      {u"NEW", u"DICT X", 203, "Invalid master dictionary name 'DICT X'" + rule},
      {u"NEW", u"A,B", 203, "Invalid master dictionary name 'A,B'" + rule},
  };
  for (const auto& [account, md, number, description] : cases) {
    EXPECT_EQ(testing::failure_of([&] { create_account(root_, account, md); }), std::make_pair(number, description));
  }
  EXPECT_EQ(files_in_root(), std::vector<std::string>{"SALES.db"});
}

}  // namespace
}  // namespace ombrix
