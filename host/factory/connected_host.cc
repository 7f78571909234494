#include "host/factory/connected_host.h"

#include "base/diagnostics.h"

namespace ombrix {

std::shared_ptr<velquor_base> connected_host(
    const std::function<std::shared_ptr<velquor_base>()>& make, const std::string& server,
    const settings& config) {
  std::shared_ptr<velquor_base> host;
  try {
    host = make();
  } catch (const _com_error& error) {
    debug_line(config, 1, create_failure_line(error));
    throw;
  }
  try {
    host->connect(from_default_codepage(server));
  } catch (const _com_error& error) {
    debug_line(config, 1, connect_failure_line(server, error));
    throw;
  }
  return host;
}

}  // namespace ombrix
