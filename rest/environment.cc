#include "rest/environment.h"

namespace ombrix {

namespace {

void upper_ascii(char* first, std::size_t length) {
  for (char* c = first; c != first + length; ++c) {
    if (*c >= 'a' && *c <= 'z') *c = static_cast<char>(*c - 'a' + 'A');
  }
}

}  // namespace

environment::environment(std::string_view text) : text_(text) {
  lines_.reserve(32);
  std::size_t start = 0;
  while (start < text_.size()) {
    std::size_t end = text_.find("\r\n", start);
    if (end == std::string::npos) end = text_.size();
    const std::size_t found = std::string_view(text_).substr(start, end - start).find('=');
    if (found != std::string_view::npos) {
      const std::size_t equals = start + found;
      upper_ascii(text_.data() + start, found);
      lines_.push_back({start, found, equals + 1, end - equals - 1});
    }
    start = end + 2;
  }
}

environment::environment(
    std::initializer_list<std::pair<std::string_view, std::string_view>> variables) {
  std::string text;
  for (const auto& [name, value] : variables) {
    text.append(name);
    text.push_back('=');
    text.append(value);
    text.append("\r\n");
  }
  *this = environment(text);
}

std::string_view environment::value(std::string_view name) const {
  const std::string_view text = text_;
  for (const line& l : lines_) {
    if (text.substr(l.name_start, l.name_length) == name) {
      return text.substr(l.value_start, l.value_length);
    }
  }
  return {};
}

std::vector<std::pair<std::string_view, std::string_view>> environment::lines() const {
  std::vector<std::pair<std::string_view, std::string_view>> out;
  const std::string_view text = text_;
  for (const line& l : lines_) {
    out.emplace_back(text.substr(l.name_start, l.name_length),
                     text.substr(l.value_start, l.value_length));
  }
  return out;
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
