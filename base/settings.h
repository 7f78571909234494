// Process-wide settings, fixed by the command line at start-up.
// Written only by start-up before any other thread exists and read-only afterwards,
// except server_running, which a logout clears while the accept loop reads it.
#pragma once

#include <atomic>

namespace ombrix {

extern int debug_level;        // 0 quiet; non-zero level 1; 2 or more (signed) level 2 as well
extern int host_version;       // host component generation: 71 or 80
extern bool exit_on_logout;    // -a: stop when a logout empties the session table
extern bool case_insensitive;  // -c: the root-name check of paths ignores letter case
extern bool run_minimized;     // -m: minimise the console window after start-up
extern std::atomic<bool> server_running;  // the accept loop runs while this is true

// True when diagnostics of `level` (1 or 2) are enabled by debug_level.
inline bool debug_enabled(int level) {
  return level <= 1 ? debug_level != 0 : debug_level >= 2;
}

}  // namespace ombrix
