#include "base/settings.h"

namespace ombrix {

int debug_level = 0;
int host_version = 80;
bool exit_on_logout = false;
bool case_insensitive = false;
bool run_minimized = false;
std::atomic<bool> server_running{false};

}  // namespace ombrix
