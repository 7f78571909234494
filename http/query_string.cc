#include "http/query_string.h"

#include "base/diagnostics.h"
#include "base/text_helpers.h"

namespace ombrix {
namespace {

bool holds_line_break(std::string_view text) {
  return text.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

bool parse_query_string(std::string_view query, std::string& environment, const settings& config) {
  std::string lines;
  std::size_t start = 0;
  std::size_t separator = std::string_view::npos;
  for (std::size_t i = 0; i <= query.size(); ++i) {
    if (i < query.size() && query[i] != '&') {
      // A "=" that opens a pair belongs to the name; a later one may still separate.
      if (query[i] == '=' && separator == std::string_view::npos && i != start) separator = i;
      continue;
    }
    const std::string_view pair = query.substr(start, i - start);
    std::string name;
    std::string value;
    if (separator == std::string_view::npos) {
      name = url_decode(pair);
    } else {
      name = url_decode(pair.substr(0, separator - start));
      value = url_decode(pair.substr(separator - start + 1));
    }
    start = i + 1;
    separator = std::string_view::npos;

    trim(name);
    to_upper(name);
    if (name.empty()) continue;
    if (holds_line_break(name) || holds_line_break(value)) return false;
    lines.append("QS_").append(name).append("=").append(value).append("\r\n");
    if (config.debug_enabled(2)) write_diagnostic("  QS_" + name + "=" + value);
  }
  environment.append(lines);
  return true;
}

}  // namespace ombrix
