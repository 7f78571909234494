#include "host/admin/item_files.h"

namespace ombrix {

text item_from_text_file(std::string_view bytes) {
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
  std::string bytes;
  bytes.reserve(item.size() + 16);
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = item.find(u"\r\n", start);
    const std::u16string_view attribute =
        item.substr(start, end == std::u16string_view::npos ? item.size() - start : end - start);
    bytes += to_utf8(attribute);
    bytes.push_back('\n');
    if (end == std::u16string_view::npos) break;
    start = end + 2;
  }
  return bytes;
}

}  // namespace ombrix
