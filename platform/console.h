// The console window of the process, behind the platform layer. Call from the main thread.
#pragma once

namespace ombrix::platform {

// Minimises the process's console window when there is one; otherwise does nothing.
void minimize_console_window();

}  // namespace ombrix::platform
