#include "mount/recovery_folder.h"

#include <ctime>
#include <filesystem>
#include <fstream>
#include <system_error>

namespace ombrix::mount {

std::string recovery_folder::keep(const std::string& path, const std::string& content) {
  unsigned long number = 0;
  {
    const std::lock_guard lock(mutex_);
    number = ++count_;
  }
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  std::strftime(stamp, sizeof stamp, "%Y%m%dT%H%M%SZ", &utc);
  const std::filesystem::path target =
      std::filesystem::path(folder_) / (std::string(stamp) + "-" + std::to_string(number)) /
      std::filesystem::path(path).relative_path();
  std::error_code error;
  std::filesystem::create_directories(target.parent_path(), error);
  if (error) return {};
  std::ofstream out(target, std::ios::binary | std::ios::trunc);
  out.write(content.data(), static_cast<std::streamsize>(content.size()));
  out.close();
  if (!out) return {};
  return target.string();
}

}  // namespace ombrix::mount
