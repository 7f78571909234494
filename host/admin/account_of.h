// admin_account over an account type with account_store's operations (account_store,
// pg_account). Thread-safe as the account is.
#pragma once

#include <memory>
#include <utility>

#include "host/admin/admin_store.h"

namespace ombrix {

// Forwards to the account type `account_type` (account_store or pg_account).
template <typename account_type>
class account_of final : public admin_account {
 public:
  explicit account_of(std::shared_ptr<account_type> account) : account_(std::move(account)) {}
  text md_name() override { return account_->md_name(); }
  account_store::file_additions create_file(const text& file,
                                            const std::vector<text>& sections) override {
    return account_->create_file(file, sections);
  }
  std::size_t import_items(const text& file,
                           const std::vector<account_store::item>& items) override {
    return account_->import_items(file, items);
  }
  void for_each_item(const text& file,
                     const std::function<void(const text&, const text&)>& visit) override {
    account_->for_each_item(file, visit);
  }
  std::vector<listing_entry> entries(const text& file, std::int32_t attribute,
                                     std::int32_t max_count) override {
    return account_->entries(file, attribute, max_count);
  }

 private:
  std::shared_ptr<account_type> account_;
};

}  // namespace ombrix
