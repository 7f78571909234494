// Process-wide allocator tuning and the machine's memory size, behind the platform layer.
#pragma once

#include <cstdint>

namespace ombrix::platform {

// Keeps the allocator from giving every connection thread a heap of its own: with one short-lived
// thread per connection, per-thread heaps keep memory after a burst of load that a shared heap
// gives back. Call once at start-up, before any other thread exists.
void limit_allocator_arenas();

// The machine's physical memory in bytes, or 0 when it cannot be found out.
std::uint64_t physical_memory_bytes();

}  // namespace ombrix::platform
