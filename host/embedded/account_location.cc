#include "host/embedded/account_location.h"

#include <filesystem>

#include "platform/user_data.h"

namespace ombrix {

std::string data_root_from(const char* configured) {
  if (configured != nullptr && configured[0] != '\0') return configured;
  return platform::user_data_folder("ombrix");
}

bool is_valid_account_name(std::u16string_view name) {
  if (name.empty() || name.size() > 64 || name.front() == u'.') return false;
  for (char16_t unit : name) {
    const bool ok = (unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') ||
                    (unit >= u'0' && unit <= u'9') || unit == u'.' || unit == u'_' ||
                    unit == u'-';
    if (!ok) return false;
  }
  return true;
}

text default_account_from(const char* configured) {
  if (configured == nullptr || configured[0] == '\0') return u"MAIN";
  // Account names are ASCII; other bytes are kept one unit each so that validation refuses them.
  text name;
  for (const char* byte = configured; *byte != '\0'; ++byte) {
    name.push_back(static_cast<unsigned char>(*byte));
  }
  return name;
}

server_target parse_server_text(std::u16string_view server, const text& default_account) {
  server_target result;
  std::u16string_view target = server;
  if (const auto star = server.rfind(u'*'); star != std::u16string_view::npos) {
    result.client = text(server.substr(star + 1));
    target = server.substr(0, star);
    if (!target.empty() && target.back() == u'*') target.remove_suffix(1);
  }
  if (const auto star = target.rfind(u'*'); star != std::u16string_view::npos) {
    target.remove_prefix(star + 1);
  }
  result.account = target.empty() ? default_account : text(target);
  return result;
}

std::string account_path(const std::string& root, std::u16string_view name) {
  std::string path = root;
  if (path.empty() || path.back() != '/') path.push_back('/');
  for (char16_t unit : name) path.push_back(static_cast<char>(unit));
  path += ".db";
  return path;
}

bool ensure_data_root(const std::string& root, std::error_code& error) {
  namespace fs = std::filesystem;
  if (fs::is_directory(root, error)) return true;
  error.clear();
  fs::create_directories(root, error);
  if (error) return false;
  fs::permissions(root, fs::perms::owner_all, fs::perm_options::replace, error);
  return !error;
}

bool is_plain_file(const std::string& path) {
  std::error_code error;
  return std::filesystem::symlink_status(path, error).type() == std::filesystem::file_type::regular;
}

}  // namespace ombrix
