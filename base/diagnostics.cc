#include "base/diagnostics.h"

#include <cstdio>
#include <string>

namespace ombrix {

void write_diagnostic(std::string_view line) {
  std::string whole;
  whole.reserve(line.size() + 1);
  whole.append(line);
  whole.push_back('\n');
  // One fwrite holds the stream's lock for the whole line.
  std::fwrite(whole.data(), 1, whole.size(), stderr);
  std::fflush(stderr);
}

void debug_line(const settings& config, int level, std::string_view line) {
  if (config.debug_enabled(level)) write_diagnostic(line);
}

}  // namespace ombrix
