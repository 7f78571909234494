#include "host/factory/create_host_server.h"

#include "host/embedded/embedded_host.h"
#include "base/diagnostics.h"

namespace ombrix {

// Both generations get the embedded host here: they differ only in how the callers use
// create_item. The COM bindings of the two generations would be chosen in this place.
std::shared_ptr<velquor_base> create_host_server(int generation, const std::string& server) {
  std::shared_ptr<velquor_base> host;
  try {
    if (generation != 71 && generation != 80) throw _com_error(e_nointerface);
    host = std::make_shared<embedded_host>();
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
