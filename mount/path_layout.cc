#include "mount/path_layout.h"

#include "host/item_files.h"

namespace ombrix::mount {

std::optional<std::vector<std::string>> split_mount_path(std::string_view path) {
  std::vector<std::string> names;
  if (path.empty() || path.front() != '/') return std::nullopt;
  path.remove_prefix(1);
  if (path.empty()) return names;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = path.find('/', start);
    const std::string_view name =
        path.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (name.empty() || name == "." || name == "..") return std::nullopt;
    names.emplace_back(name);
    if (names.size() > 3) return std::nullopt;
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return names;
}

std::string encode_segment(std::string_view name) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : name) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'A' && u <= 'Z') || (u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '-' ||
        u == '.' || u == '_' || u == '~') {
      out += c;
    } else {
      out += '%';
      out += hex[u >> 4];
      out += hex[u & 15];
    }
  }
  return out;
}

std::string rest_path(std::string_view root, const std::vector<std::string>& names) {
  std::string out = encode_segment(root);
  for (const std::string& name : names) {
    out += '/';
    out += encode_segment(name);
  }
  return out;
}

std::string item_rest_path(std::string_view root, const std::vector<std::string>& ids) {
  if (ids.empty() || file_name_of_id(ids.back()) == ids.back()) return rest_path(root, ids);
  const std::vector<std::string> directories(ids.begin(), ids.end() - 1);
  return rest_path(root, directories) + "?id=" + encode_segment(ids.back());
}

std::string with_query(std::string path, std::string_view parameter) {
  path += path.find('?') == std::string::npos ? '?' : '&';
  path += parameter;
  return path;
}

std::optional<std::vector<std::string>> ids_of_names(const std::vector<std::string>& names) {
  std::vector<std::string> ids;
  for (const std::string& name : names) {
    std::optional<std::string> id = id_of_file_name(name);
    if (!id) return std::nullopt;
    ids.push_back(std::move(*id));
  }
  return ids;
}

}  // namespace ombrix::mount
