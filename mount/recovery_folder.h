#pragma once
// Where the mount keeps the bytes of a save the account did not take (a changed item, a stopped
// server, content the item form cannot hold): FOLDER/<UTC time>-<n>/<mount path>, one file per
// failed save. Thread safe; never throws.

#include <mutex>
#include <string>

namespace ombrix::mount {

class recovery_folder {
 public:
  explicit recovery_folder(std::string folder) : folder_(std::move(folder)) {}

  // Writes `content` for the mount path `path` ("/F/D/NAME"); returns the file written, or the
  // empty text when it could not be written.
  std::string keep(const std::string& path, const std::string& content);

 private:
  std::string folder_;
  std::mutex mutex_;
  unsigned long count_ = 0;
};

}  // namespace ombrix::mount
