// The command line: the single-letter option scanner, numeric option values, the banner and
// usage text, and the start-up decision they lead to. Not thread-safe; used by start-up only.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "base/settings.h"

namespace ombrix {

// The options the server knows; a letter followed by ':' takes an argument.
inline constexpr const char* server_option_letters = "acd:mn:p:v?";

// Scans single-letter options one per call, in the classic getopt manner: clusters such as
// "-am" give one option per call, "-p3182" and "-p 3182" are the same, "--" or a word that is
// not an option ends the scan. Prints nothing. One scanner per command line.
class option_scanner {
 public:
  explicit option_scanner(const char* option_letters = server_option_letters)
      : option_letters_(option_letters) {}

  // Returns the next option letter, '?' (63) for an unknown letter or a missing argument, or -1
  // at the end of the options. Sets optarg() and advances optind().
  // REQUIRES: argv holds argc words that outlive the scanner.
  int getopt(int argc, const char* const* argv);

  // The argument of the option just returned; after -1, the word that ended the scan (or the
  // word after "--"). Null when there is none.
  const char* optarg() const { return optarg_; }

  // The index of the next word to scan; 0 before the first call.
  int optind() const { return optind_; }

 private:
  const char* option_letters_;
  int optind_ = 0;
  const char* cluster_ = nullptr;  // next letter inside the current option word, or null
  const char* optarg_ = nullptr;
};

// Reads a numeric option value as strtoul does with base 10 (leading white space, an optional
// sign, digits up to the first other character; no digits gives 0), held in 32 bits: a value
// beyond the unsigned 32-bit range saturates to all bits set, so "-1" and "99999999999" are -1.
std::int32_t read_option_number(const char* text);

// The version the banner shows: major.minor.revision of the build, or an empty text when the
// build carries no version. Never null; the text lives for the whole process.
const char* get_version_string();

// Writes the banner and the option list to `out`.
void print_usage(std::ostream& out);

// The settings a command line asks for.
struct command_line_settings {
  int port = 3181;
  int debug_level = 0;
  int host_version = 80;
  bool exit_on_logout = false;
  bool case_insensitive = false;
  bool run_minimized = false;

  // The settings the server runs with (all but the port).
  settings server_settings() const;
};

// What start-up does next: end the process at once with `exit_code`, or start the server with
// `settings`.
struct start_decision {
  std::optional<int> exit_code;
  command_line_settings settings;
};

// Acts on the options in order. The usage text goes to `out` (exit code 0), an invalid -n or -p
// value ends the scan with its message on `err` (exit code 1).
start_decision read_command_line(int argc, const char* const* argv, std::ostream& out,
                                 std::ostream& err);

}  // namespace ombrix
