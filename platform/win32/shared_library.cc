#include "platform/shared_library.h"

#include <windows.h>

namespace ombrix::platform {

void* load_library_symbol(const std::string& path, const char* symbol, std::string& error) {
  HMODULE library = ::LoadLibraryA(path.c_str());  // never freed: kept for the process's life
  if (library == nullptr) {
    error = "error " + std::to_string(::GetLastError()) + " loading " + path;
    return nullptr;
  }
  FARPROC address = ::GetProcAddress(library, symbol);
  if (address == nullptr) error = std::string("no symbol ") + symbol + " in " + path;
  return reinterpret_cast<void*>(address);
}

std::string program_folder() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  const std::string program(path, length);
  const std::size_t slash = program.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : program.substr(0, slash);
}

}  // namespace ombrix::platform
