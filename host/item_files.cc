#include "host/item_files.h"

#include <algorithm>
#include <stdexcept>
#include <vector>

namespace ombrix {

namespace {

constexpr std::string_view escape_line = "%ombrix-escaped";
constexpr char hex_digits[] = "0123456789ABCDEF";

void append_escape(std::string& out, unsigned char byte) {
  out.push_back('%');
  out.push_back(hex_digits[byte >> 4]);
  out.push_back(hex_digits[byte & 0xF]);
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Reverses append_escape over `escaped`; nothing when a "%" is not followed by two hex digits,
// with `bad_at` (when given) set to the position of that "%".
std::optional<std::string> unescape(std::string_view escaped, std::size_t* bad_at = nullptr) {
  std::string out;
  out.reserve(escaped.size());
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] != '%') {
      out.push_back(escaped[i]);
      continue;
    }
    const int high = i + 1 < escaped.size() ? hex_value(escaped[i + 1]) : -1;
    const int low = i + 2 < escaped.size() ? hex_value(escaped[i + 2]) : -1;
    if (high < 0 || low < 0) {
      if (bad_at != nullptr) *bad_at = i;
      return std::nullopt;
    }
    out.push_back(static_cast<char>(high * 16 + low));
    i += 2;
  }
  return out;
}

// The attributes of an item text, split at CR LF.
std::vector<std::u16string_view> attributes_of(std::u16string_view item) {
  std::vector<std::u16string_view> attributes;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = item.find(u"\r\n", start);
    attributes.push_back(item.substr(
        start, end == std::u16string_view::npos ? item.size() - start : end - start));
    if (end == std::u16string_view::npos) return attributes;
    start = end + 2;
  }
}

text escaped_item_from_text_file(std::string_view lines) {
  text item;
  std::size_t start = 0;
  bool first = true;
  std::size_t line = 2;  // the escape line is the first
  for (; start < lines.size(); ++line) {
    std::size_t end = lines.find('\n', start);
    if (end == std::string_view::npos) end = lines.size();
    const std::string_view escaped = lines.substr(start, end - start);
    std::size_t bad_at = 0;
    const std::optional<std::string> attribute = unescape(escaped, &bad_at);
    if (!attribute) {
      throw malformed_escape("'" + std::string(escaped.substr(bad_at, 3)) + "' in line " +
                             std::to_string(line));
    }
    if (!first) item += u"\r\n";
    first = false;
    item += from_utf8(*attribute);
    start = end + 1;
  }
  return item;
}

}  // namespace

std::string file_name_of_id(std::string_view id) {
  const auto awkward = [](unsigned char c) { return c < 0x20 || c == 0x7F || c == '/' || c == '\\'; };
  bool plain = !id.empty() && id != "." && id != ".." && id.front() != '%';
  for (const char c : id) plain = plain && !awkward(static_cast<unsigned char>(c));
  if (plain) return std::string(id);
  std::string name = "%";
  for (const char c : id) {
    const auto byte = static_cast<unsigned char>(c);
    if (awkward(byte) || c == '.' || c == '%') {
      append_escape(name, byte);
    } else {
      name.push_back(c);
    }
  }
  return name;
}

std::optional<std::string> id_of_file_name(std::string_view name) {
  if (name.empty() || name.front() != '%') return std::string(name);
  return unescape(name.substr(1));
}

text item_from_text_file(std::string_view bytes) {
  if (bytes.substr(0, escape_line.size()) == escape_line &&
      (bytes.size() == escape_line.size() || bytes[escape_line.size()] == '\n')) {
    return escaped_item_from_text_file(bytes.substr(std::min(bytes.size(), escape_line.size() + 1)));
  }
  const text decoded = from_utf8(bytes);
  text item;
  item.reserve(decoded.size() + decoded.size() / 32);
  std::size_t start = 0;
  bool first = true;
  while (start < decoded.size()) {
    std::size_t end = decoded.find(u'\n', start);
    const bool ended = end != text::npos;
    if (!ended) end = decoded.size();
    std::size_t line_end = end;
    if (ended && line_end > start && decoded[line_end - 1] == u'\r') --line_end;
    if (!first) item += u"\r\n";
    first = false;
    item.append(decoded, start, line_end - start);
    start = ended ? end + 1 : end;
  }
  return item;
}

std::string text_file_from_item(std::u16string_view item) {
  if (item.empty()) return {};
  const std::vector<std::u16string_view> attributes = attributes_of(item);
  bool escaped = to_utf8(attributes.front()) == escape_line;
  // A bare LF would end the line early, and a CR just before the line end would be taken as
  // part of it; a CR anywhere else reads back as it is.
  for (const std::u16string_view attribute : attributes) {
    escaped = escaped || attribute.find(u'\n') != std::u16string_view::npos ||
              (!attribute.empty() && attribute.back() == u'\r');
  }
  std::string bytes;
  bytes.reserve(item.size() + 16);
  if (escaped) bytes.append(escape_line).push_back('\n');
  for (const std::u16string_view attribute : attributes) {
    const std::string utf8 = to_utf8(attribute);
    if (!escaped) {
      bytes += utf8;
    } else {
      for (const char c : utf8) {
        if (c == '%' || c == '\r' || c == '\n') {
          append_escape(bytes, static_cast<unsigned char>(c));
        } else {
          bytes.push_back(c);
        }
      }
    }
    bytes.push_back('\n');
  }
  return bytes;
}

}  // namespace ombrix
