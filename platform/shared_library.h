// Code loaded at run time: a shared library opened by its path and kept for the life of the
// process (never unloaded, so that objects it made may outlive whoever loaded it). Thread-safe.
#pragma once

#include <string>

namespace ombrix::platform {

// The address of `symbol` in the library at `path`, which is loaded first; null, with the
// system's reason in `error`, when the library or the symbol cannot be found.
void* load_library_symbol(const std::string& path, const char* symbol, std::string& error);

// The folder that holds the running program's file, without a trailing separator; empty when
// it cannot be found out.
std::string program_folder();

}  // namespace ombrix::platform
