#include "host/factory/host_store.h"

#include "host/factory/connected_host.h"
#include "host/factory/create_host_server.h"
#include "host/pg/pg_host.h"
#include "host/pg/pg_store.h"

namespace ombrix {

std::shared_ptr<host_store> host_store::open(const host_store_choice& choice) {
  auto opened = std::make_shared<host_store>();
  if (!choice.store.empty()) {
    try {
      opened->postgresql_ = pg_store::open(choice.store);
    } catch (const pg_store_error& error) {
      throw host_store_error(error.what());
    }
  }
  return opened;
}

std::shared_ptr<velquor_base> host_store::create(const settings& config, const std::string& server) const {
  if (!postgresql_) return create_host_server(config, server);
  const int generation = config.host_version;
  return connected_host(
      [&]() -> std::shared_ptr<velquor_base> {
        if (generation != 71 && generation != 80) throw _com_error(e_nointerface);
        return std::make_shared<pg_host>(postgresql_);
      },
      server, config);
}

}  // namespace ombrix
