// The store choice of the Windows build: the installed host component is the store, so
// OMBRIX_STORE names nothing there.
#include "host/factory/host_store.h"

#include "host/factory/create_host_server.h"

namespace ombrix {

std::shared_ptr<host_store> host_store::open(const host_store_choice& choice) {
  if (!choice.store.empty()) {
    throw host_store_error("OMBRIX_STORE is not supported in this build: the host component "
                           "installed on this machine is the store.");
  }
  return std::make_shared<host_store>();
}

std::shared_ptr<velquor_base> host_store::create(const settings& config,
                                                 const std::string& server) const {
  return create_host_server(config, server);
}

}  // namespace ombrix
