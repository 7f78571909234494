#include "host/factory/host_store.h"

#include "host/embedded/account_location.h"
#include "host/embedded/account_stores.h"
#include "host/embedded/embedded_host.h"
#include "host/embedded/sqlite_db.h"
#include "host/factory/connected_host.h"
#include "host/factory/postgresql_module.h"
#include "platform/shared_library.h"

namespace ombrix {

std::shared_ptr<host_store> host_store::open(const host_store_choice& choice) {
  auto opened = std::make_shared<host_store>();
  if (!choice.store.empty()) {
    const std::string module = choice.postgresql_module.empty()
                                   ? platform::program_folder() + "/" + postgresql_module_file
                                   : choice.postgresql_module;
    std::string error;
    const auto open_store = reinterpret_cast<postgresql_module_open>(
        platform::load_library_symbol(module, postgresql_module_entry, error));
    if (open_store == nullptr) {
      throw host_store_error("The PostgreSQL store cannot be used: its module " + module +
                             " did not load (" + error + ").");
    }
    postgresql_hosts* hosts =
        open_store(choice.store, default_account_from(choice.account.c_str()), error);
    if (hosts == nullptr) throw host_store_error(error);
    opened->postgresql_.reset(hosts);
  } else {
    // With a PostgreSQL store the data root is neither read nor created. The store is opened at
    // start-up, before any connection thread.
    configure_sqlite_for_threads();
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
        if (postgresql_) return postgresql_->make_host();
        return std::make_shared<embedded_host>(*embedded_);
      },
      server, config);
}

}  // namespace ombrix
