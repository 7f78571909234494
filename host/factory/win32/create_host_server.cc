// The host factory of the Windows build: the COM binding of the generation chosen with -n.
#include "host/factory/create_host_server.h"

#include "host/com/velquor_com.h"
#include "base/diagnostics.h"

namespace ombrix {

std::shared_ptr<velquor_base> create_host_server(int generation, const std::string& server) {
  std::shared_ptr<velquor_base> host;
  try {
    if (generation == 80) {
      host = std::make_shared<velquor80>();
    } else if (generation == 71) {
      host = std::make_shared<velquor71>();
    } else {
      throw _com_error(e_nointerface);
    }
  } catch (const _com_error& error) {
    debug_line(1, create_failure_line(error));
    throw;
  }
  try {
    host->connect(from_default_codepage(server));
  } catch (const _com_error& error) {
    debug_line(1, connect_failure_line(server, error));
    throw;
  }
  return host;
}

}  // namespace ombrix
