// Process-wide allocator tuning and the machine's memory size, behind the platform layer.
#pragma once

#include <cstdint>

namespace ombrix::platform {

// Tunes the allocator for a server of many short requests: no heap of its own for every
// connection thread (per-thread heaps keep a burst's memory for the life of the process), and
// buffers of up to a few MiB reused from the heap instead of being mapped afresh per request
// (a bounded amount of free memory stays with each heap). Call once at start-up, before any
// other thread exists. Does nothing where the allocator has no such settings.
void limit_allocator_arenas();

// The machine's physical memory in bytes, or 0 when it cannot be found out.
std::uint64_t physical_memory_bytes();

}  // namespace ombrix::platform
