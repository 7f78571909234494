#include "http/text_dump.h"

#include <string>

#include "base/diagnostics.h"

namespace ombrix {

void dump_text_lines(std::string_view text, std::size_t max_lines) {
  std::size_t written = 0;
  while (!text.empty() && written < max_lines) {
    const std::size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string out;
    out.reserve(line.size() + 2);
    out.append("  ").append(line);
    write_diagnostic(out);
    ++written;
  }
}

}  // namespace ombrix
