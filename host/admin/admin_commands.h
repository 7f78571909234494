// The commands of ombrix-admin, the hosts' administration tool. They work through the same
// account stores as the hosts themselves, on a data root or a PostgreSQL store alike. Safe to
// run while servers use the same accounts.
//
//   ombrix-admin [--data DIR | --store STORE] COMMAND ...
//     create-account NAME [--md MDNAME]
//     create-file ACCOUNT FILE [SECTION ...]
//     import ACCOUNT FILE DIR
//     export ACCOUNT FILE DIR
//     list ACCOUNT [FILE]
//     copy-account NAME --to STORE [--from STORE]
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace ombrix {

// Exit codes of run_admin.
inline constexpr int admin_ok = 0;
inline constexpr int admin_failed = 1;  // the command could not be done
inline constexpr int admin_usage = 2;   // the command line is wrong

// Runs the command line `args` (without the program name) on the store `--store STORE`, else the
// data root `--data DIR`, else `environment_store` (OMBRIX_STORE, read by main) when not empty,
// else `data_root` (main: data_root_from(OMBRIX_DATA)), which the usage text also names. Writes
// results to `out` and one line "ombrix-admin: message" to `err` on failure; returns an exit
// code above.
int run_admin(const std::vector<std::string>& args, const std::string& environment_store,
              const std::string& data_root, std::ostream& out, std::ostream& err);

}  // namespace ombrix
