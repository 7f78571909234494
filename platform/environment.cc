#include "platform/environment.h"

#include <cstdlib>

namespace ombrix::platform {

std::string environment_value(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

}  // namespace ombrix::platform
