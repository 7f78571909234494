// Test support for the embedded host: a fresh data root per test and the account stores that
// open accounts in it (default account MAIN).
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>

#include "host/com_error.h"
#include "host/embedded/account_store.h"
#include "host/embedded/account_stores.h"
#include "host/text.h"

namespace ombrix::testing {

class temporary_data_root : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-host-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    base_ = pattern;
    root_ = (base_ / "data").string();
    stores_ = std::make_unique<account_stores>(root_, u"MAIN");
  }

  void TearDown() override {
    stores_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(base_, ignored);
  }

  // Creates an account with its master dictionary; fails the test on error.
  void make_account(const text& name, const text& md = u"MD") {
    ASSERT_NO_THROW(account_store::create(root_, name, md));
  }

  // The stores of the test's data root: what the server's host store holds.
  account_stores& stores() { return *stores_; }

  std::filesystem::path base_;  // holds the root; removed after the test
  std::string root_;            // the data root (base_/data, created on first use)
  std::unique_ptr<account_stores> stores_;
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
