// Allocator tuning on POSIX systems.
#include "platform/memory.h"

#include <unistd.h>

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace ombrix::platform {

void limit_allocator_arenas() {
#if defined(__GLIBC__)
  // Two heaps are enough for a server whose threads spend their time waiting on sockets and the
  // database; the default of eight per core keeps a burst's memory for the life of the process.
  (void)mallopt(M_ARENA_MAX, 2);
#endif
}

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

}  // namespace ombrix::platform
