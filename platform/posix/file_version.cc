// The executable's file version on POSIX systems: executables carry no version resource, so the
// version is the one the build was configured with.
#include "platform/file_version.h"

namespace ombrix::platform {

std::optional<file_version> executable_file_version() {
#if defined(OMBRIX_VERSION_MAJOR) && defined(OMBRIX_VERSION_MINOR) && \
    defined(OMBRIX_VERSION_PATCH) && defined(OMBRIX_VERSION_TWEAK)
  file_version version;
  version.most = (std::uint32_t{OMBRIX_VERSION_MAJOR} << 16) |
                 (std::uint32_t{OMBRIX_VERSION_MINOR} & 0xFFFF);
  version.least = (std::uint32_t{OMBRIX_VERSION_PATCH} << 16) |
                  (std::uint32_t{OMBRIX_VERSION_TWEAK} & 0xFFFF);
  return version;
#else
  return std::nullopt;
#endif
}

}  // namespace ombrix::platform
