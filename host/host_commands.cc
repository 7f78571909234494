#include "host/host_commands.h"

#include <stdexcept>
#include <string>
#include <vector>

#include "host/host_errors.h"

namespace ombrix {
namespace {

std::vector<text> split(const text& whole, std::u16string_view separator, std::size_t most) {
  std::vector<text> pieces;
  std::size_t start = 0;
  while (pieces.size() + 1 < most) {
    const std::size_t found = whole.find(separator, start);
    if (found == text::npos) break;
    pieces.push_back(whole.substr(start, found - start));
    start = found + separator.size();
  }
  pieces.push_back(whole.substr(start));
  return pieces;
}

// The value of option `name` (lines 3 and 4 of the parameter text); empty when absent.
text option(const std::vector<text>& names, const std::vector<text>& values,
            std::u16string_view name) {
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i] == name) return i < values.size() ? values[i] : text();
  }
  return {};
}

text copy_command(velquor_base& host, const text& parameters) {
  std::vector<text> lines = split(parameters, u"\r\n", 4);
  lines.resize(4);
  const text file = name_from_parameter_line(lines[0]);
  const text from = name_from_parameter_line(lines[1]);
  const std::vector<text> names = split(lines[2], std::u16string_view(&value_mark, 1), -1);
  const std::vector<text> values = split(lines[3], std::u16string_view(&value_mark, 1), -1);
  const text to = option(names, values, u"to");
  if (to.empty()) {
    throw_host_error(host_error::invalid_name,
                     describe({u"COPY of item '", display_name(from), u"' in file '",
                               display_name(file), u"' needs the option 'to' (the new item id)."}));
  }
  host.copy_item(file, from, to, option(names, values, u"overwrite") == u"1",
                 create_style::with_content);
  return u"1 item copied.\r\n" + to;
}

}  // namespace

text name_from_parameter_line(const text& units) {
  std::string bytes;
  bytes.reserve(units.size());
  for (char16_t unit : units) {
    if (unit > 0xFF) return units;
    bytes.push_back(static_cast<char>(unit));
  }
  try {
    return from_utf8(bytes);
  } catch (const std::range_error&) {
    return units;
  }
}

text run_host_subroutine(velquor_base& host, const text& name, const text& first,
                         const text& second) {
  if (name == u"ECHO") return second;
  if (name == u"FTFSCMD") {
    if (first == u"ECHO") return u"ECHO\r\n" + second;
    if (first == u"COPY") return copy_command(host, second);
    throw_host_error(host_error::unknown_command,
                     describe({u"Unknown command '", display_name(first),
                               u"' for subroutine FTFSCMD."}));
  }
  throw_host_error(host_error::unknown_command,
                   describe({u"Unknown subroutine '", display_name(name), u"'."}));
}

}  // namespace ombrix
