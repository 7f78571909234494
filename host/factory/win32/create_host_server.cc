// The host factory of the Windows build: the COM binding of the generation chosen with -n.
#include "host/factory/create_host_server.h"

#include "host/com/velquor_com.h"
#include "host/factory/connected_host.h"

namespace ombrix {

std::shared_ptr<velquor_base> create_host_server(const settings& config,
                                                 const std::string& server) {
  const int generation = config.host_version;
  return connected_host(
      [generation]() -> std::shared_ptr<velquor_base> {
        if (generation == 80) return std::make_shared<velquor80>();
        if (generation == 71) return std::make_shared<velquor71>();
        throw _com_error(e_nointerface);
      },
      server, config);
}

}  // namespace ombrix
