// The descriptor limit on Windows: sockets are kernel handles without a per-process soft limit.
#include "platform/descriptor_limit.h"

namespace ombrix::platform {

bool raise_descriptor_limit() { return true; }

}  // namespace ombrix::platform
