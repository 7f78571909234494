// Allocator tuning on POSIX systems.
#include "platform/memory.h"

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

}  // namespace ombrix::platform
