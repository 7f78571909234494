// Test support for the embedded host: a fresh data root per test, named by OMBRIX_DATA, with the
// other variables that steer the host cleared. Not thread-safe (it changes the environment).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "host/com_error.h"
#include "host/embedded/account_store.h"
#include "host/text.h"

namespace ombrix::testing {

class temporary_data_root : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-host-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    root_ = (base_ / "data").string();
    setenv("OMBRIX_DATA", root_.c_str(), 1);
    unsetenv("OMBRIX_ACCOUNT");
  }

  void TearDown() override {
    account_store::release_unused_stores();
    unsetenv("OMBRIX_DATA");
    unsetenv("OMBRIX_ACCOUNT");
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }

  // Creates an account with its master dictionary; fails the test on error.
  void make_account(const text& name, const text& md = u"MD") {
    ASSERT_NO_THROW(account_store::create(root_, name, md));
  }

  std::filesystem::path base_;  // holds the root; removed after the test
  std::string root_;            // the data root (base_/data, created on first use)
};

// The host error number of a failure, or -1 for a code outside the interface facility.
inline int host_error_number(const _com_error& error) {
  const auto code = static_cast<std::uint32_t>(error.Error());
  return (code & 0xFFFF0000u) == 0x80040000u ? static_cast<int>(code & 0xFFFF) : -1;
}

// Runs `call`; returns {host error number (-1 outside the interface facility), description},
// or {0, "no error"} when it did not throw.
template <typename Call>
std::pair<int, std::string> failure_of(Call&& call) {
  try {
    call();
  } catch (const _com_error& error) {
    return {host_error_number(error), to_utf8(error.Description())};
  }
  return {0, "no error"};
}

}  // namespace ombrix::testing
