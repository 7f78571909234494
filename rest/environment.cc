#include "rest/environment.h"

namespace ombrix {

namespace {

// Upper-cases ASCII letters only; every other byte, UTF-8 included, stays as it is.
std::string upper_ascii(std::string_view name) {
  std::string upper(name);
  for (char& c : upper) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return upper;
}

}  // namespace

environment parse_environment(std::string_view text) {
  environment table;
  for (const std::string& line : split(text, "\r\n")) {
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) continue;
    // emplace keeps the existing entry, so the first occurrence of a name wins.
    table.emplace(upper_ascii(std::string_view(line).substr(0, equals)), line.substr(equals + 1));
  }
  return table;
}

std::string_view environment_value(const environment& table, std::string_view name) {
  auto found = table.find(name);
  if (found == table.end()) return {};
  return found->second;
}

std::vector<std::string> split(std::string_view text, std::string_view delimiter) {
  std::vector<std::string> pieces;
  if (delimiter.empty()) {
    pieces.emplace_back(text);
    return pieces;
  }
  std::size_t start = 0;
  while (true) {
    std::size_t found = text.find(delimiter, start);
    if (found == std::string_view::npos) {
      // A delimiter at the very end adds no empty last piece; the empty text still gives one.
      if (start < text.size() || pieces.empty()) pieces.emplace_back(text.substr(start));
      return pieces;
    }
    pieces.emplace_back(text.substr(start, found - start));
    start = found + delimiter.size();
  }
}

std::string join(const std::vector<std::string>& pieces, std::string_view delimiter) {
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    if (i > 0) joined.append(delimiter);
    joined.append(pieces[i]);
  }
  return joined;
}

}  // namespace ombrix
