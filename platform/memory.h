// Process-wide allocator tuning, behind the platform layer.
#pragma once

namespace ombrix::platform {

// Keeps the allocator from giving every connection thread a heap of its own: with one short-lived
// thread per connection, per-thread heaps keep memory after a burst of load that a shared heap
// gives back. Call once at start-up, before any other thread exists.
void limit_allocator_arenas();

}  // namespace ombrix::platform
