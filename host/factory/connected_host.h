// The part of making a host that every store and platform shares: create, then connect, each
// failure written at debug level 1 of `config` before it is thrown on. Thread-safe as `make` is.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/settings.h"
#include "host/velquor_base.h"

namespace ombrix {

// Calls `make` (which returns a host object, never null, or throws _com_error) and connects the
// object to `server`. Returns the connected object; throws the _com_error of either step.
std::shared_ptr<velquor_base> connected_host(
    const std::function<std::shared_ptr<velquor_base>()>& make, const std::string& server,
    const settings& config);

}  // namespace ombrix
