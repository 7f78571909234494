// Creates and connects the host object of the generation selected by host_version.
#pragma once

#include <memory>
#include <string>

#include "host/velquor_base.h"

namespace ombrix {

// Returns a connected host object for `server` (8-bit server text); never null.
// Throws _com_error: E_NOINTERFACE for a generation other than 71 or 80, or the failure of
// creation or connect. At debug level 1 the failure is also written to standard error.
std::shared_ptr<velquor_base> create_host_server(const std::string& server);

}  // namespace ombrix
