// The descriptor limit on POSIX systems.
#include "platform/descriptor_limit.h"

#include <sys/resource.h>

namespace ombrix::platform {

bool raise_descriptor_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) != 0) return false;
  if (limit.rlim_cur == limit.rlim_max) return true;
  limit.rlim_cur = limit.rlim_max;
  return ::setrlimit(RLIMIT_NOFILE, &limit) == 0;
}

}  // namespace ombrix::platform
