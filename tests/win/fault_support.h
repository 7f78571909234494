// Test helpers around ombrix-fault-host.dll: a binding of the shared COM code to one of its
// classes, and access to its journal and live-object count. Single-threaded, like the tests.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "host/com/velquor_com.h"
#include "host/com/velquor_interface.h"
#include "tests/win/fault_modes.h"

namespace ombrix::fault {

// The COM binding reaching the fault class registered under `progid` through the 7.1 or 8.0
// interface identifier; built exactly like velquor71 and velquor80.
class fault_binding final : public velquor_com {
 public:
  fault_binding(const wchar_t* progid, int generation)
      : velquor_com({progid, generation == 71 ? &com::iid_velquor71 : &com::iid_velquor80}),
        generation_(generation) {}

 private:
  const IID& generation_iid() const override {
    return generation_ == 71 ? com::iid_velquor71 : com::iid_velquor80;
  }
  int generation_;
};

inline const wchar_t* progid_of(mode which) {
  for (const mode_entry& entry : modes) {
    if (entry.which == which) return entry.progid;
  }
  return unregistered_progid;
}

// The DLL, loaded once for the process (COM loads the same module from the registry).
inline HMODULE fault_module() {
  static const HMODULE module = ::LoadLibraryW(dll_name);
  return module;
}

template <class Function>
Function fault_export(const char* name) {
  const HMODULE module = fault_module();
  return module == nullptr ? nullptr
                           : reinterpret_cast<Function>(
                                 reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// The calls made since the last reset_journal, one line each.
inline std::wstring journal() {
  const auto read = fault_export<const wchar_t* (*)()>(journal_export);
  return read == nullptr ? L"<no fault component>" : read();
}

inline void reset_journal() {
  if (const auto reset = fault_export<void (*)()>(reset_export)) reset();
}

inline long live_objects() {
  const auto count = fault_export<long (*)()>(live_objects_export);
  return count == nullptr ? -1 : count();
}

}  // namespace ombrix::fault
