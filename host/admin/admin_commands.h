// The commands of ombrix-admin, the embedded host's administration tool. They work through the
// same account stores as the host itself. Safe to run while a server uses the same accounts.
//
//   ombrix-admin [--data DIR] COMMAND ...
//     create-account NAME [--md MDNAME]
//     create-file ACCOUNT FILE [SECTION ...]
//     import ACCOUNT FILE DIR
//     export ACCOUNT FILE DIR
//     list ACCOUNT [FILE]
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ombrix {

// Exit codes of run_admin.
inline constexpr int admin_ok = 0;
inline constexpr int admin_failed = 1;  // the command could not be done
inline constexpr int admin_usage = 2;   // the command line is wrong

// Runs the command line `args` (without the program name) with the data root `--data DIR`, else
// data_root_from_environment(). Writes results to `out` and one line "ombrix-admin: message" to
// `err` on failure; returns an exit code above.
int run_admin(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace ombrix
