// ombrix-admin: creates accounts and files on either store, imports and exports items as text
// files, lists files and copies whole accounts between stores. See host/admin/admin_commands.h.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/admin/admin_commands.h"
#include "host/embedded/account_location.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  // The environment is read once, here.
  const char* store = std::getenv("OMBRIX_STORE");
  return ombrix::run_admin(args, store ? store : "",
                           ombrix::data_root_from(std::getenv("OMBRIX_DATA")), std::cout,
                           std::cerr);
}
