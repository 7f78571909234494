#include "platform/shared_library.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

namespace ombrix::platform {

void* load_library_symbol(const std::string& path, const char* symbol, std::string& error) {
  // Local: the library's own symbols (its copies of this program's code too) stay its own.
  void* library = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (library == nullptr) {
    const char* reason = ::dlerror();
    error = reason != nullptr ? reason : "cannot be loaded";
    return nullptr;
  }
  void* address = ::dlsym(library, symbol);
  if (address == nullptr) {
    const char* reason = ::dlerror();
    error = reason != nullptr ? reason : std::string("no symbol ") + symbol;
  }
  return address;
}

std::string program_folder() {
  char path[PATH_MAX];
  const ssize_t length = ::readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return {};
  const std::string program(path, static_cast<std::size_t>(length));
  const std::size_t slash = program.rfind('/');
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

}  // namespace ombrix::platform
