// The PostgreSQL store of ombrix-admin (POSIX builds).
#include "host/admin/account_of.h"
#include "host/admin/admin_store.h"
#include "host/pg/pg_store.h"

namespace ombrix {
namespace {

class postgresql_store final : public admin_store {
 public:
  explicit postgresql_store(std::shared_ptr<pg_store> store) : store_(std::move(store)) {}
  std::string description() const override {
    return "PostgreSQL database " + store_->database();
  }
  void create_account(const text& name, const text& md_name) override {
    store_->create_account(name, md_name);
  }
  std::unique_ptr<admin_account> account(const text& name) override {
    return std::make_unique<account_of<pg_account>>(store_->account(name));
  }
  void write_account(const text& name, const account_image& image) override {
    store_->write_account(name, image);
  }

 private:
  std::shared_ptr<pg_store> store_;
};

}  // namespace

std::unique_ptr<admin_store> open_postgresql_store(const std::string& location) {
  try {
    return std::make_unique<postgresql_store>(pg_store::open(location));
  } catch (const pg_store_error& error) {
    throw admin_store_error(error.what());
  }
}

}  // namespace ombrix
