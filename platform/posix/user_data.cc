// The user's data folder on POSIX systems, after the XDG base directory convention.
#include "platform/user_data.h"

#include <cstdlib>

namespace ombrix::platform {

std::string user_data_folder(std::string_view program) {
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
    return std::string(xdg) + "/" + std::string(program);
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
    return std::string(home) + "/.local/share/" + std::string(program);
  }
  return {};
}

}  // namespace ombrix::platform
