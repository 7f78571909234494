// Shared pieces of the soak programs: options, seeding, the server's memory, latency figures and
// the pass/fail summary. Not thread-safe except where a member says so.
#pragma once

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/e2e/http_client.h"
#include "tests/e2e/server_process.h"

namespace ombrix::soak {

using namespace ombrix::e2e;
using clock_type = std::chrono::steady_clock;

// Command-line options shared by every soak program: --bin DIR --seconds N --clients N
// --connections N --cycles N --limit N. Unknown options end the program with a usage line.
struct soak_options {
  std::string bin = "build";
  double seconds = 5;
  int clients = 64;
  int connections = 500;
  int cycles = 2;
  double limit = 0;  // a program's own bound (see its usage); 0: report only

  static soak_options parse(int argc, char** argv, const char* usage) {
    soak_options options;
    for (int i = 1; i < argc; ++i) {
      std::string word = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc) {
          std::cerr << "missing value for " << word << "\n" << usage << "\n";
          std::exit(2);
        }
        return argv[++i];
      };
      if (word == "--bin") options.bin = value();
      else if (word == "--seconds") options.seconds = std::stod(value());
      else if (word == "--clients") options.clients = std::stoi(value());
      else if (word == "--connections") options.connections = std::stoi(value());
      else if (word == "--cycles") options.cycles = std::stoi(value());
      else if (word == "--limit") options.limit = std::stod(value());
      else {
        std::cerr << usage << "\n";
        std::exit(2);
      }
    }
    return options;
  }
  std::string server() const { return bin + "/ombrix"; }
  std::string admin() const { return bin + "/ombrix-admin"; }
};

// Runs ombrix-admin; exits the program when it fails (nothing can be measured without data).
inline void admin_or_die(const soak_options& options, const std::string& data_root,
                         std::vector<std::string> args) {
  std::vector<std::string> argv{options.admin(), "--data", data_root};
  argv.insert(argv.end(), args.begin(), args.end());
  run_result result = run_program(argv);
  if (!result.exited || result.exit_code != 0) {
    std::cerr << "ombrix-admin failed: " << result.err << "\n";
    std::exit(2);
  }
}

// Creates account MAIN in `data_root` and, unless `file` is empty, its file `file`.
inline void create_main(const soak_options& options, const std::string& data_root,
                        const std::string& file = {}) {
  admin_or_die(options, data_root, {"create-account", "MAIN"});
  if (!file.empty()) admin_or_die(options, data_root, {"create-file", "MAIN", file});
}

// The time `seconds` from now, and the seconds since `start`.
inline clock_type::time_point deadline_after(double seconds) {
  return clock_type::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000));
}
inline double seconds_since(clock_type::time_point start, clock_type::time_point now = clock_type::now()) {
  return std::chrono::duration<double>(now - start).count();
}

// CPU time (user + system) that `pid` has used so far, in seconds; -1 when it cannot be read.
inline double cpu_seconds(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  // The command name in parentheses may hold spaces; the fields after it are plain.
  const std::size_t close = text.rfind(')');
  if (close == std::string::npos) return -1;
  std::istringstream fields(text.substr(close + 1));
  std::string field;
  long user = -1, system = -1;
  for (int number = 3; fields >> field; ++number) {
    if (number == 14) user = std::atol(field.c_str());
    if (number == 15) {
      system = std::atol(field.c_str());
      break;
    }
  }
  if (user < 0 || system < 0) return -1;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

// A field in KiB of /proc/PID/status ("VmHWM", "VmRSS"); 0 when it cannot be read.
inline long status_kib(pid_t pid, const std::string& name) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind(name + ":", 0) == 0) return std::atol(line.c_str() + name.size() + 1);
  }
  return 0;
}

// Resident set size of `pid` in KiB (0 when it cannot be read).
inline long rss_kib(pid_t pid) { return status_kib(pid, "VmRSS"); }

// Resets the peak resident set size (VmHWM) of `pid` to its current size; false when the kernel
// does not allow it.
inline bool reset_peak_rss(pid_t pid) {
  std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

// The number of descriptors `pid` has open; -1 when its descriptor folder cannot be read.
inline long open_descriptors(pid_t pid) {
  std::error_code error;
  long count = 0;
  for (std::filesystem::directory_iterator it("/proc/" + std::to_string(pid) + "/fd", error), end;
       !error && it != end; it.increment(error)) {
    ++count;
  }
  return error ? -1 : count;
}

// The system's count of connections dropped because a listen queue was full (TcpExt
// ListenOverflows in /proc/net/netstat); -1 when it cannot be read.
inline long listen_overflows() {
  std::ifstream netstat("/proc/net/netstat");
  std::string names, values;
  while (std::getline(netstat, names) && std::getline(netstat, values)) {
    if (names.rfind("TcpExt:", 0) != 0) continue;
    std::istringstream name_fields(names), value_fields(values);
    for (std::string name, value; name_fields >> name && value_fields >> value;) {
      if (name == "ListenOverflows") return std::atol(value.c_str());
    }
  }
  return -1;
}

// Raises the open-file limit to its hard maximum (hundreds of sockets are held at once).
inline void raise_file_limit() {
  rlimit limit{};
  if (::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
  }
}

// Latency samples in microseconds; percentiles by rank.
class latencies {
 public:
  void add(clock_type::duration elapsed) {
    samples_.push_back(std::chrono::duration_cast<std::chrono::microseconds>(elapsed).count());
  }
  size_t count() const { return samples_.size(); }
  double percentile_ms(double p) {
    if (samples_.empty()) return 0;
    std::sort(samples_.begin(), samples_.end());
    size_t index = static_cast<size_t>(p / 100.0 * static_cast<double>(samples_.size() - 1) + 0.5);
    return static_cast<double>(samples_[std::min(index, samples_.size() - 1)]) / 1000.0;
  }
  double max_ms() { return percentile_ms(100); }

 private:
  std::vector<long> samples_;
};

// Collects violated properties and prints the closing summary. Thread-safe.
class verdict {
 public:
  explicit verdict(std::string name) : name_(std::move(name)) {}

  // Records a violation; the first few are printed as they happen.
  void fail(const std::string& what) {
    std::lock_guard lock(mutex_);
    if (++failures_ <= 10) std::cout << "  VIOLATION: " << what << "\n";
  }
  void require(bool ok, const std::string& what) {
    if (!ok) fail(what);
  }
  void note(const std::string& key, const std::string& value) {
    std::lock_guard lock(mutex_);
    notes_.emplace_back(key, value);
  }
  long failures() const { return failures_; }

  // Prints the summary; the process exit code (0 when every property held).
  int finish() {
    std::lock_guard lock(mutex_);
    std::cout << "== " << name_ << ": " << (failures_ == 0 ? "PASS" : "FAIL") << "\n";
    for (const auto& [key, value] : notes_) std::cout << "   " << key << ": " << value << "\n";
    if (failures_ > 0) std::cout << "   violations: " << failures_ << "\n";
    std::cout.flush();
    return failures_ == 0 ? 0 : 1;
  }

 private:
  std::string name_;
  std::mutex mutex_;
  std::vector<std::pair<std::string, std::string>> notes_;
  std::atomic<long> failures_{0};
};

inline std::string fixed(double value, int digits = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

// A short printable excerpt of a response for violation messages.
inline std::string excerpt(std::string_view bytes) {
  std::string out;
  for (char c : bytes.substr(0, 160)) {
    if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else if (static_cast<unsigned char>(c) < 0x20) out += '.';
    else out += c;
  }
  if (bytes.size() > 160) out += "...";
  return out.empty() ? "(nothing)" : out;
}

}  // namespace ombrix::soak
