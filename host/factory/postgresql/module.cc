// The entry point of libombrix-postgresql.so (see host/factory/postgresql_module.h).
#include <exception>

#include "host/factory/postgresql_module.h"
#include "host/pg/pg_host.h"
#include "host/pg/pg_store.h"

namespace ombrix {
namespace {

class store_hosts final : public postgresql_hosts {
 public:
  store_hosts(std::shared_ptr<pg_store> store, text default_account)
      : store_(std::move(store)), default_account_(std::move(default_account)) {}
  std::shared_ptr<velquor_base> make_host() override {
    return std::make_shared<pg_host>(store_, default_account_);
  }

 private:
  const std::shared_ptr<pg_store> store_;
  const text default_account_;
};

}  // namespace
}  // namespace ombrix

extern "C" __attribute__((visibility("default"))) ombrix::postgresql_hosts* ombrix_open_postgresql(
    const std::string& conninfo, const ombrix::text& default_account, std::string& error) {
  try {
    return new ombrix::store_hosts(ombrix::pg_store::open(conninfo), default_account);
  } catch (const std::exception& failure) {
    error = failure.what();
    return nullptr;
  }
}
