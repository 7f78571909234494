#include "host/factory/create_host_server.h"

#include "host/embedded/embedded_host.h"
#include "host/factory/connected_host.h"

namespace ombrix {

// Both generations get the embedded host here: they differ only in how the callers use
// create_item. The COM bindings of the two generations are chosen in win32/.
std::shared_ptr<velquor_base> create_host_server(const settings& config, const std::string& server) {
  const int generation = config.host_version;
  return connected_host(
      [generation]() -> std::shared_ptr<velquor_base> {
        if (generation != 71 && generation != 80) throw _com_error(e_nointerface);
        return std::make_shared<embedded_host>();
      },
      server, config);
}

}  // namespace ombrix
