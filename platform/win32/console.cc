// The console window on Windows.
#include "platform/console.h"

#include <windows.h>

namespace ombrix::platform {

void minimize_console_window() {
  if (const HWND window = ::GetConsoleWindow(); window != nullptr) {
    (void)::ShowWindow(window, SW_MINIMIZE);
  }
}

}  // namespace ombrix::platform
