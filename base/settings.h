// The settings the command line fixes at start-up. main fills one value before any other thread
// exists and hands each layer a const reference to it; read-only afterwards, so thread-safe.
#pragma once

namespace ombrix {

struct settings {
  int debug_level = 0;            // 0 quiet; non-zero level 1; 2 or more (signed) level 2 as well
  int host_version = 80;          // host component generation: 71 or 80
  bool exit_on_logout = false;    // -a: stop when a logout empties the session table
  bool case_insensitive = false;  // -c: the root-name check of paths ignores letter case
  bool run_minimized = false;     // -m: minimise the console window after start-up

  // True when diagnostics of `level` (1 or 2) are enabled by debug_level.
  constexpr bool debug_enabled(int level) const {
    return level <= 1 ? debug_level != 0 : debug_level >= 2;
  }
};

// The settings of a server started without options.
inline constexpr settings default_settings{};

}  // namespace ombrix
