// Where a program keeps the current user's data, behind the platform layer. Reads the
// environment, so it must not race with setenv (call it from start-up or from requests only).
#pragma once

#include <string>
#include <string_view>

namespace ombrix::platform {

// The data folder named `program` of the current user: on POSIX $XDG_DATA_HOME/program (an
// absolute XDG_DATA_HOME only), else $HOME/.local/share/program; on Windows
// %LOCALAPPDATA%\program. Empty when the environment names none of these folders.
std::string user_data_folder(std::string_view program);

}  // namespace ombrix::platform
