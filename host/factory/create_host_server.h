// Creates and connects the host object of a host generation through the COM binding (the
// Windows build; host_store uses it). Thread-safe: each call makes its own object.
#pragma once

#include <memory>
#include <string>

#include "base/settings.h"
#include "host/velquor_base.h"

namespace ombrix {

// Returns a connected host object of the generation config.host_version names (71 or 80) for
// `server` (8-bit server text); never null.
// Throws _com_error: E_NOINTERFACE for a generation other than 71 or 80, or the failure of
// creation or connect. At debug level 1 the failure is also written to standard error.
std::shared_ptr<velquor_base> create_host_server(const settings& config, const std::string& server);

}  // namespace ombrix
