// ombrix-admin: creates accounts and files of the embedded host, imports and exports items as
// text files and lists files. See host/admin/admin_commands.h.
#include <iostream>
#include <string>
#include <vector>

#include "host/admin/admin_commands.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return ombrix::run_admin(args, std::cout, std::cerr);
}
