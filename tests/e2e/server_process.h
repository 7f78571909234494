// Test harness: temporary data roots, the admin tool and the real server as child processes.
// Not thread-safe: one harness object belongs to one test thread.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <thread>

#include "tests/support/loopback_client.h"  // also <cerrno>, <chrono>, <string>, <vector>, POSIX

extern char** environ;

namespace ombrix::e2e {

using namespace std::chrono_literals;
using namespace ombrix::test;
using env_list = std::vector<std::pair<std::string, std::string>>;

// The programs under test are the build's own unless OMBRIX_E2E_SERVER / OMBRIX_E2E_ADMIN name a
// command ("wine /path/ombrix.exe"). OMBRIX_E2E_PLATFORM=windows: their lines end with CR LF (read
// as LF) and their socket failure numbers are those of Windows Sockets.
inline bool windows_programs() { return std::getenv("OMBRIX_E2E_PLATFORM") && std::string_view(std::getenv("OMBRIX_E2E_PLATFORM")) == "windows"; }

inline std::string program_text(std::string bytes) {
  for (std::size_t at = 0; windows_programs() && (at = bytes.find("\r\n", at)) != std::string::npos;) bytes.erase(at, 1);
  return bytes;
}

inline std::vector<std::string> command_from(const char* variable, std::string binary) {
  std::vector<std::string> words;
  std::istringstream in(std::getenv(variable) ? std::getenv(variable) : "");
  for (std::string word; in >> word;) words.push_back(word);
  return words.empty() ? std::vector<std::string>{std::move(binary)} : words;
}

#ifdef OMBRIX_BINARY_DIR
inline std::vector<std::string> server_command() { return command_from("OMBRIX_E2E_SERVER", std::string(OMBRIX_BINARY_DIR) + "/ombrix"); }
inline std::vector<std::string> admin_command() { return command_from("OMBRIX_E2E_ADMIN", std::string(OMBRIX_BINARY_DIR) + "/ombrix-admin"); }
#endif

inline std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}
inline void write_file(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

// A directory under the temp folder, removed with its contents on destruction.
class temp_dir {
 public:
  explicit temp_dir(const std::string& prefix = "ombrix-e2e") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~temp_dir() { std::error_code ignored; std::filesystem::remove_all(path_, ignored); }
  temp_dir(const temp_dir&) = delete;
  temp_dir& operator=(const temp_dir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string str() const { return path_.string(); }
 private:
  std::filesystem::path path_;
};

namespace detail {

// Starts `argv` (on PATH) with our environment less the host's variables, plus `extra`; its pid.
inline pid_t spawn(std::vector<std::string> argv, const env_list& extra,
                   const std::filesystem::path& out_file, const std::filesystem::path& err_file) {
  std::vector<std::string> env;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view line(*entry);
    if (!line.starts_with("OMBRIX_DATA=") && !line.starts_with("OMBRIX_ACCOUNT=") && !line.starts_with("OMBRIX_STORE=")) env.emplace_back(line);
  }
  for (const auto& [name, value] : extra) env.push_back(name + "=" + value);
  const auto pointers = [](std::vector<std::string>& texts) {
    std::vector<char*> result(texts.size() + 1, nullptr);
    for (std::size_t i = 0; i < texts.size(); ++i) result[i] = texts[i].data();
    return result;
  };
  std::vector<char*> argv_ptrs = pointers(argv), env_ptrs = pointers(env);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t pid = -1;
  const int error = ::posix_spawnp(&pid, argv_ptrs[0], &actions, nullptr, argv_ptrs.data(), env_ptrs.data());
  posix_spawn_file_actions_destroy(&actions);
  if (error != 0) throw std::runtime_error("cannot start " + argv[0] + ": " + std::strerror(error));
  return pid;
}

// The raw wait status of `pid`, or nullopt while it still runs after `timeout`.
inline std::optional<int> wait_for(pid_t pid, std::chrono::milliseconds timeout) {
  for (auto deadline = std::chrono::steady_clock::now() + timeout;; std::this_thread::sleep_for(5ms)) {
    int status = 0;
    const pid_t done = ::waitpid(pid, &status, WNOHANG);
    if (done == pid) return status;
    if ((done < 0 && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) return std::nullopt;
  }
}

}  // namespace detail

struct run_result {
  bool exited = false;  // false: killed by a signal or by the time-out
  int exit_code = -1;
  std::string out, err;
};

// Runs argv[0] with its arguments to its end (killed after `timeout`), capturing both outputs.
inline run_result run_program(const std::vector<std::string>& argv, const env_list& env = {},
                              std::chrono::milliseconds timeout = 30s) {
  temp_dir capture("ombrix-run");
  pid_t pid = detail::spawn(argv, env, capture.path() / "out", capture.path() / "err");
  const std::optional<int> status = detail::wait_for(pid, timeout);
  if (!status) ::kill(pid, SIGKILL), ::waitpid(pid, nullptr, 0);
  const bool exited = status && WIFEXITED(*status);
  return {exited, exited ? WEXITSTATUS(*status) : -1, program_text(read_file(capture.path() / "out")), program_text(read_file(capture.path() / "err"))};
}

// The real server as a child process on a free loopback port; destruction kills and reaps it.
class server_process {
 public:
  // Starts `command` -p PORT `args`; waits for the listening line (std::runtime_error after 10 s).
  server_process(const std::vector<std::string>& command, const std::string& data_root,
                 std::vector<std::string> args = {}, env_list extra_env = {})
      : capture_("ombrix-server") {
    for (int attempt = 0; attempt < 5; ++attempt) {
      port_ = free_port();
      std::vector<std::string> argv = command;
      argv.insert(argv.end(), {"-p", std::to_string(port_)});
      argv.insert(argv.end(), args.begin(), args.end());
      env_list env = extra_env;
      env.emplace_back("OMBRIX_DATA", data_root), exit_status_.reset();
      pid_ = detail::spawn(argv, env, capture_.path() / "out", capture_.path() / "err");
      if (wait_for_listening()) return;
      stop();  // another process may have taken the port since the probe: try again
      if (stderr_text().find("Cannot bind") == std::string::npos) break;
    }
    throw std::runtime_error("server did not start; stderr: " + stderr_text());
  }
  ~server_process() { stop(); }
  server_process(const server_process&) = delete;
  server_process& operator=(const server_process&) = delete;
  int port() const { return port_; }
  pid_t pid() const { return pid_; }
  std::string stderr_text() const { return program_text(read_file(capture_.path() / "err")); }
  bool running() const { return pid_ > 0 && exit_status_ == std::nullopt; }

  // Waits until standard error holds `needle` (written possibly after the response); false on time-out.
  bool wait_for_stderr(std::string_view needle, std::chrono::milliseconds timeout = 5s) const {
    for (auto deadline = std::chrono::steady_clock::now() + timeout;; std::this_thread::sleep_for(10ms)) {
      if (stderr_text().find(needle) != std::string::npos) return true;
      if (std::chrono::steady_clock::now() >= deadline) return false;
    }
  }

  // The exit code, or nullopt while it runs after `timeout` or when a signal ended it.
  std::optional<int> wait_for_exit(std::chrono::milliseconds timeout) {
    if (!exit_status_ && pid_ > 0) exit_status_ = detail::wait_for(pid_, timeout);
    if (exit_status_ && WIFEXITED(*exit_status_)) return WEXITSTATUS(*exit_status_);
    return std::nullopt;
  }

  bool has_exited() { return wait_for_exit(0ms), exit_status_.has_value(); }

  // Sends `signal` and reaps the process; safe to call more than once.
  void stop(int signal = SIGKILL) {
    if (pid_ <= 0 || exit_status_) return;
    ::kill(pid_, signal);
    exit_status_ = detail::wait_for(pid_, std::chrono::hours(1)).value_or(0);
  }

 private:
  // The listening line comes before listen(): wait for the LISTEN row in /proc/net/tcp too (a probe
  // connection would take a connection number from the tests).
  bool wait_for_listening() {
    const std::string line = listening_notice(port_);
    bool announced = false;
    for (auto deadline = std::chrono::steady_clock::now() + 10s;; std::this_thread::sleep_for(2ms)) {
      announced = announced || stderr_text().find(line) != std::string::npos;
      if (announced && is_listening(port_)) return true;
      if (has_exited() || std::chrono::steady_clock::now() >= deadline) return false;
    }
  }

  static bool is_listening(int port) {
    char wanted[48];
    std::snprintf(wanted, sizeof wanted, " 0100007F:%04X 00000000:0000 0A ", port);
    return read_file("/proc/net/tcp").find(wanted) != std::string::npos;
  }

  temp_dir capture_;
  int port_ = 0;
  pid_t pid_ = -1;
  std::optional<int> exit_status_;
};

}  // namespace ombrix::e2e
