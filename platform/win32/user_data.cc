// The user's data folder on Windows: the local (not roaming) application data folder, since the
// databases belong to this machine.
#include "platform/user_data.h"

#include <cstdlib>

namespace ombrix::platform {

std::string user_data_folder(std::string_view program) {
  const char* local = std::getenv("LOCALAPPDATA");
  if (local == nullptr || local[0] == '\0') return {};
  std::string folder(local);
  if (folder.back() != '\\' && folder.back() != '/') folder.push_back('\\');
  return folder + std::string(program);
}

}  // namespace ombrix::platform
