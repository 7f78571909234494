#pragma once
// The mounted account as a FUSE file system (libfuse3 high-level operations). One mount_fs
// lives for the whole mount; its operations may run on several FUSE threads at once and guard
// the caches and scratch files with one mutex. Every account change goes through rest_client;
// failures come back as negative errno values.

#include <fuse3/fuse.h>

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "mount/rest_client.h"

namespace ombrix::mount {

struct mount_options {
  int port = 3181;
  std::string server_name = "*";
  std::string client;
  std::string root = "MD";  // the first REST path segment: the MD name or the account name
  bool scratch_rule = true;
  double cache_seconds = 1.0;
  long timeout_seconds = 5;
};

struct dir_entry {
  std::string name;
  bool directory = false;
};

class mount_fs {
 public:
  explicit mount_fs(mount_options options);

  rest_client& client() { return client_; }
  // The operation table that calls into the mount_fs given as FUSE private data.
  static const fuse_operations& operations();

  int getattr(const std::string& path, struct stat* st);
  int readdir(const std::string& path, std::vector<std::string>& names);
  int open(const std::string& path, bool truncate, std::uint64_t& handle);
  int create(const std::string& path, std::uint64_t& handle);
  int read(std::uint64_t handle, char* out, std::size_t size, off_t offset);
  int write(std::uint64_t handle, const char* data, std::size_t size, off_t offset);
  int truncate(const std::string& path, std::optional<std::uint64_t> handle, off_t size);
  int flush(std::uint64_t handle);
  int release(std::uint64_t handle);
  int unlink(const std::string& path);
  int rename(const std::string& from, const std::string& to, unsigned int flags);

 private:
  struct open_file {
    std::string path;
    std::string content;
    bool dirty = false;
    bool scratch = false;
  };
  using clock = std::chrono::steady_clock;

  bool is_scratch(const std::string& path) const;
  int list(const std::vector<std::string>& names, std::vector<dir_entry>& entries);
  int read_item(const std::string& path, const std::vector<std::string>& names,
                std::string& content);
  int write_item(const std::vector<std::string>& names, const std::string& content, bool create);
  int delete_item(const std::vector<std::string>& names);
  void drop_caches();

  mount_options options_;
  rest_client client_;
  std::mutex mutex_;
  std::map<std::string, std::pair<clock::time_point, std::vector<dir_entry>>> listings_;
  std::map<std::string, std::pair<clock::time_point, std::string>> contents_;
  std::map<std::string, std::string> scratch_files_;
  std::map<std::uint64_t, std::shared_ptr<open_file>> open_files_;
  std::uint64_t next_handle_ = 1;
};

}  // namespace ombrix::mount
