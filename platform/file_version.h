// The four-part file version of the running executable, behind the platform layer. Thread-safe.
#pragma once

#include <cstdint>
#include <optional>

namespace ombrix::platform {

// The two 32-bit words of a file version a.b.c.d: most = a << 16 | b, least = c << 16 | d.
struct file_version {
  std::uint32_t most = 0;
  std::uint32_t least = 0;
};

// The version the executable carries: on Windows its own version resource (nullopt when it has
// none or the resource cannot be read); elsewhere the version the build was made with (nullopt
// when the build was given none).
std::optional<file_version> executable_file_version();

}  // namespace ombrix::platform
