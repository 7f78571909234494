#include "host/admin/admin_store.h"

#include "host/admin/account_of.h"

#include <filesystem>
#include <utility>

#include "host/embedded/account_location.h"
#include "host/embedded/account_stores.h"
#include "host/host_errors.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

class embedded_store final : public admin_store {
 public:
  explicit embedded_store(std::string root) : root_(std::move(root)), stores_(root_, u"MAIN") {}
  std::string description() const override { return "data root " + root_; }
  void create_account(const text& name, const text& md_name) override {
    account_store::create(root_, name, md_name);
  }
  std::unique_ptr<admin_account> account(const text& name) override {
    // A missing data root is a missing account: nothing is created on disk for a look-up.
    std::error_code error;
    if (is_valid_account_name(name) && !fs::is_directory(root_, error)) {
      throw_host_error(host_error::account_not_found,
                       describe({u"Account '", name, u"' not found."}));
    }
    return std::make_unique<account_of<account_store>>(stores_.open(name));
  }
  // The account file is made first and filled after; a failure on the way removes it again.
  void write_account(const text& name, const account_image& image) override {
    account_store::create(root_, name, image.md_name);
    try {
      std::shared_ptr<account_store> made = stores_.open(name);
      for (const account_image::file& file : image.files) made->create_file(file.name, file.sections);
      for (const account_image::section& section : image.sections) {
        std::vector<account_store::item> items;
        items.reserve(section.items.size());
        for (const auto& [id, content] : section.items) items.push_back({id, content});
        made->import_items(section.name, items);
      }
    } catch (...) {
      stores_.release_unused();
      std::error_code ignored;
      for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
        fs::remove(account_path(root_, name) + suffix, ignored);
      }
      throw;
    }
  }

 private:
  std::string root_;
  account_stores stores_;  // the accounts this tool opens in root_
};

}  // namespace

bool admin_store::names_postgresql(const std::string& location) {
  return location.starts_with("postgresql://") || location.starts_with("postgres://") ||
         location.find('=') != std::string::npos;
}

std::unique_ptr<admin_store> admin_store::open(const std::string& location) {
  if (!names_postgresql(location)) return std::make_unique<embedded_store>(location);
  return open_postgresql_store(location);
}

account_image read_account_image(admin_account& account) {
  account_image image;
  image.md_name = account.md_name();
  const auto add_section = [&](const text& name) {
    account_image::section& section = image.sections.emplace_back();
    section.name = name;
    account.for_each_item(name, [&](const text& id, const text& content) {
      section.items.emplace_back(id, content);
    });
  };
  for (const listing_entry& file : account.entries(image.md_name, 16, 0)) {
    account_image::file& made = image.files.emplace_back();
    made.name = file.name;
    add_section(u"DICT " + file.name);
    for (const listing_entry& section : account.entries(u"DICT " + file.name, 16, 0)) {
      if (section.name == file.name) {
        add_section(file.name);
      } else {
        made.sections.push_back(section.name);
        add_section(file.name + u"," + section.name);
      }
    }
  }
  return image;
}

}  // namespace ombrix
