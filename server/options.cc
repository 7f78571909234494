#include "server/options.h"

#include <cstdio>
#include <cstring>
#include <ostream>
#include <string_view>

#include "platform/file_version.h"
#include "base/settings.h"

namespace ombrix {

namespace {

constexpr int usage_result = '?';

bool is_space(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

// The version text of the executable, formatted once: the high and low halves of the first
// file-version word and the low half of the second (the fourth of the four parts).
struct version_text {
  char text[100] = {};

  version_text() {
    if (const auto version = platform::executable_file_version()) {
      std::snprintf(text, sizeof text, "%d.%d.%d", static_cast<int>(version->most >> 16),
                    static_cast<int>(version->most & 0xFFFF),
                    static_cast<int>(version->least & 0xFFFF));
    }
  }
};

}  // namespace

int option_scanner::getopt(int argc, const char* const* argv) {
  if (optind_ == 0) cluster_ = nullptr;
  optarg_ = nullptr;

  if (cluster_ == nullptr || *cluster_ == '\0') {
    if (optind_ == 0) optind_ = 1;
    if (optind_ >= argc) return -1;
    const char* word = argv[optind_];
    if (word[0] != '-' || word[1] == '\0') {
      // The first word that is not an option ends the scan; it stays the next word.
      optarg_ = word;
      return -1;
    }
    if (std::strcmp(word, "--") == 0) {
      ++optind_;
      optarg_ = optind_ < argc ? argv[optind_] : nullptr;
      return -1;
    }
    ++optind_;
    cluster_ = word + 1;
  }

  const char letter = *cluster_++;
  const std::string_view letters(option_letters_);
  const std::size_t at = letters.find(letter);
  if (letter == ':' || at == std::string_view::npos) return usage_result;
  if (at + 1 >= letters.size() || letters[at + 1] != ':') return static_cast<unsigned char>(letter);

  if (*cluster_ != '\0') {
    optarg_ = cluster_;
    cluster_ = nullptr;
    return static_cast<unsigned char>(letter);
  }
  if (optind_ >= argc) return usage_result;
  optarg_ = argv[optind_++];
  return static_cast<unsigned char>(letter);
}

std::int32_t read_option_number(const char* text) {
  constexpr std::uint64_t all_bits = 0xFFFFFFFFu;
  while (is_space(*text)) ++text;
  bool negative = false;
  if (*text == '+' || *text == '-') negative = *text++ == '-';

  std::uint64_t value = 0;
  bool saturated = false;
  for (; *text >= '0' && *text <= '9'; ++text) {
    if (!saturated) {
      value = value * 10 + static_cast<std::uint64_t>(*text - '0');
      saturated = value > all_bits;
    }
  }
  if (saturated) return -1;
  // A sign negates the unsigned value modulo 2^32, as strtoul does with a 32-bit result.
  const auto bits = static_cast<std::uint32_t>(negative ? 0 - value : value);
  return static_cast<std::int32_t>(bits);
}

const char* get_version_string() {
  static const version_text version;
  return version.text;
}

void print_usage(std::ostream& out) {
  out << "Corvessa Ombrix Server v" << get_version_string() << "\n"
      << "-a\t\tExit when client logs out\n"
      << "-d <level>\tDebug level 1 or 2\n"
      << "-m\t\tRun minimized\n"
      << "-n <version>\tCorvessa version 71 or 80\n"
      << "-p <port>\tPort number for connections\n"
      << "\n";
  out.flush();
}

start_decision read_command_line(int argc, const char* const* argv, std::ostream& out,
                                 std::ostream& err) {
  start_decision decision;
  command_line_settings& settings = decision.settings;
  option_scanner scanner;
  for (int option; (option = scanner.getopt(argc, argv)) != -1;) {
    switch (option) {
      case 'a':
        settings.exit_on_logout = true;
        break;
      case 'c':
        settings.case_insensitive = true;
        break;
      case 'd':
        settings.debug_level = read_option_number(scanner.optarg());
        break;
      case 'm':
        settings.run_minimized = true;
        break;
      case 'n':
        settings.host_version = read_option_number(scanner.optarg());
        if (settings.host_version != 80 && settings.host_version != 71) {
          err << "Invalid server version - must be 71 (Corvessa 7.1) or 80 (Corvessa 8.0)\n";
          err.flush();
          decision.exit_code = 1;
          return decision;
        }
        break;
      case 'p': {
        const std::int32_t port = read_option_number(scanner.optarg());
        if (port < 1025 || port > 65535) {
          err << "Invalid port specified - must be between 1025-65535\n";
          err.flush();
          decision.exit_code = 1;
          return decision;
        }
        settings.port = port;
        break;
      }
      case 'v':
      case usage_result:
        print_usage(out);
        decision.exit_code = 0;
        return decision;
      default:
        // A letter of the option string without a case above; the scanner's list and this one
        // are kept in step, so this is not reached.
        break;
    }
  }
  return decision;
}

settings command_line_settings::server_settings() const {
  settings chosen;
  chosen.debug_level = debug_level;
  chosen.host_version = host_version;
  chosen.exit_on_logout = exit_on_logout;
  chosen.case_insensitive = case_insensitive;
  chosen.run_minimized = run_minimized;
  return chosen;
}

}  // namespace ombrix
