// The process environment, for the entry points that have no main to read it for them (a
// component loaded into another process). Thread-safe for reading.
#pragma once

#include <string>

namespace ombrix::platform {

// The value of the environment variable `name`; empty when it is unset.
std::string environment_value(const char* name);

}  // namespace ombrix::platform
