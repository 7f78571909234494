#include "host/factory/host_store.h"

#include "host/embedded/account_location.h"
#include "host/embedded/account_stores.h"
#include "host/embedded/embedded_host.h"
#include "host/factory/connected_host.h"
#include "host/pg/pg_host.h"
#include "host/pg/pg_store.h"

namespace ombrix {

std::shared_ptr<host_store> host_store::open(const host_store_choice& choice) {
  auto opened = std::make_shared<host_store>();
  opened->default_account_ = default_account_from(choice.account.c_str());
  if (!choice.store.empty()) {
    try {
      opened->postgresql_ = pg_store::open(choice.store);
    } catch (const pg_store_error& error) {
      throw host_store_error(error.what());
    }
  } else {
    // With a PostgreSQL store the data root is neither read nor created.
    opened->embedded_ = std::make_shared<account_stores>(
        data_root_from(choice.data.c_str()), default_account_from(choice.account.c_str()));
  }
  return opened;
}

// Both generations get the same host: they differ only in how the callers use create_item.
std::shared_ptr<velquor_base> host_store::create(const settings& config,
                                                 const std::string& server) const {
  const int generation = config.host_version;
  return connected_host(
      [&]() -> std::shared_ptr<velquor_base> {
        if (generation != 71 && generation != 80) throw _com_error(e_nointerface);
        if (postgresql_) return std::make_shared<pg_host>(postgresql_, default_account_);
        return std::make_shared<embedded_host>(*embedded_);
      },
      server, config);
}

}  // namespace ombrix
