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
  // Item texts and replies of up to a few MiB are made for every request that reads or writes a
  // large item. Served from the heap and kept there (up to 8 MiB of free space per heap), each one
  // reuses memory that is already mapped; given back to the system after each request (the
  // default once a heap's free top passes twice the last large block), each request paid a page
  // fault per 4 KiB of its buffers, about a fifth of the time of a 1 MiB GET. Larger blocks are
  // still mapped on their own and returned when freed.
  (void)mallopt(M_MMAP_THRESHOLD, 4 * 1024 * 1024);
  (void)mallopt(M_TRIM_THRESHOLD, 8 * 1024 * 1024);
#endif
}

std::uint64_t physical_memory_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page_size = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || page_size <= 0) return 0;
  return static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(page_size);
}

}  // namespace ombrix::platform
