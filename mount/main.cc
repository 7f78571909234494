// ombrix-mount [-f] [--port PORT] [--server TEXT] [--client NAME] [--root NAME]
//              [--cache SECONDS] [--timeout SECONDS] [--recovery FOLDER] [--no-scratch]
//              MOUNTPOINT
// Mounts an account of a running ombrix server (reached through its REST interface on
// 127.0.0.1) at MOUNTPOINT. Without -f it returns once the mount is ready. The bytes of saves
// the account refused go to FOLDER: by default $XDG_STATE_HOME/ombrix-mount/recovered, else
// ~/.local/state/ombrix-mount/recovered.
#include <curl/curl.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "mount/mount_fs.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: ombrix-mount [-f] [--port PORT] [--server TEXT] [--client NAME] "
               "[--root NAME] [--cache SECONDS] [--timeout SECONDS] [--recovery FOLDER] "
               "[--no-scratch] MOUNTPOINT\n");
  return 2;
}

// The recovery folder the environment gives.
std::string default_recovery_folder() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state != nullptr && state[0] == '/') return std::string(state) + "/ombrix-mount/recovered";
  const char* home = std::getenv("HOME");
  if (home != nullptr && home[0] == '/') {
    return std::string(home) + "/.local/state/ombrix-mount/recovered";
  }
  return "/tmp/ombrix-mount-recovered";
}

}  // namespace

int main(int argc, char** argv) {
  ombrix::mount::mount_options options;
  bool foreground = false;
  std::string mountpoint;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "-f") {
      foreground = true;
    } else if (arg == "--no-scratch") {
      options.scratch_rule = false;
    } else if (arg == "--port" && has_value) {
      options.port = std::atoi(argv[++i]);
    } else if (arg == "--server" && has_value) {
      options.server_name = argv[++i];
    } else if (arg == "--client" && has_value) {
      options.client = argv[++i];
    } else if (arg == "--root" && has_value) {
      options.root = argv[++i];
    } else if (arg == "--cache" && has_value) {
      options.cache_seconds = std::atof(argv[++i]);
    } else if (arg == "--recovery" && has_value) {
      options.recovery_folder = argv[++i];
    } else if (arg == "--timeout" && has_value) {
      options.timeout_seconds = std::atol(argv[++i]);
    } else if (!arg.starts_with("-") && mountpoint.empty()) {
      mountpoint = arg;
    } else {
      return usage();
    }
  }
  if (mountpoint.empty() || options.port <= 0 || options.port > 65535) return usage();
  if (options.recovery_folder.empty()) options.recovery_folder = default_recovery_folder();
  if (curl_global_init(CURL_GLOBAL_DEFAULT) != 0) return 1;
  ombrix::mount::mount_fs fs(options);
  if (!fs.client().login()) {
    std::fprintf(stderr, "ombrix-mount: login to 127.0.0.1:%d failed\n", options.port);
    curl_global_cleanup();
    return 1;
  }
  std::vector<std::string> args{"ombrix-mount", mountpoint, "-o", "fsname=ombrix,subtype=ombrix"};
  if (foreground) args.emplace_back("-f");
  std::vector<char*> fuse_argv;
  for (std::string& a : args) fuse_argv.push_back(a.data());
  const int result = fuse_main(static_cast<int>(fuse_argv.size()), fuse_argv.data(),
                               &ombrix::mount::mount_fs::operations(), &fs);
  curl_global_cleanup();
  return result;
}
