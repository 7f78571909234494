// ombrix-admin: creates accounts and files on either store, imports and exports items as text
// files, lists files and copies whole accounts between stores. See host/admin/admin_commands.h.
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "host/admin/admin_commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  const char* store = std::getenv("OMBRIX_STORE");  // read once, here
  return ombrix::run_admin(args, store ? store : "", std::cout, std::cerr);
}
