// The console window on POSIX: a terminal has no window this process could minimise.
#include "platform/console.h"

namespace ombrix::platform {

void minimize_console_window() {}

}  // namespace ombrix::platform
