// The process's limit on open descriptors. Every connection holds one socket, so a limit below
// what the system allows caps the clients served at once. Call at start-up; not thread-safe.
#pragma once

namespace ombrix::platform {

// Raises the soft limit on open descriptors to the hard limit. Returns false when the limit
// could not be read or changed (the old one then stays); Windows has no such limit on sockets
// and always returns true.
bool raise_descriptor_limit();

}  // namespace ombrix::platform
