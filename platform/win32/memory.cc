// Allocator tuning on Windows: the process heap is already shared by all threads.
#include "platform/memory.h"

#include <windows.h>

namespace ombrix::platform {

void limit_allocator_arenas() {}

std::uint64_t physical_memory_bytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  return status.ullTotalPhys;
}

}  // namespace ombrix::platform
