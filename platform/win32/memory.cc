// Allocator tuning on Windows: the process heap is already shared by all threads.
#include "platform/memory.h"

namespace ombrix::platform {

void limit_allocator_arenas() {}

}  // namespace ombrix::platform
