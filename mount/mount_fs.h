#pragma once
// The mounted account as a FUSE file system (libfuse3 high-level operations). One mount_fs
// lives for the whole mount; its operations may run on several FUSE threads at once and guard
// the caches, open files and scratch files with one mutex (never held across a request). Every
// account change goes through rest_client; failures come back as errno values.
//
// What the account sees:
// - A file is saved by one PUT when it is flushed (close, fsync): a file created here with
//   If-None-Match: * (create only), a file read before with If-Match on the tag it was read
//   with, so that a change someone else made meanwhile is never overwritten. A save that fails
//   fails its handle for good (every later flush and write gives the same error, nothing is
//   sent again), and its bytes are kept in the recovery folder.
// - A rename within a directory is one request that replaces the target in one step.
// - Scratch files (scratch_names.h) live in memory while the process that created them runs;
//   one that outlives it, and every one left at unmount, is saved as an item.

#include <fuse3/fuse.h>
#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "mount/recovery_folder.h"
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
  std::string recovery_folder;  // where the bytes of failed saves go
};

// One name of a directory listing, with its attributes when they are known without asking.
struct listed_name {
  std::string name;
  bool has_attributes = false;
  struct stat attributes {};
};

class mount_fs {
 public:
  explicit mount_fs(mount_options options);
  ~mount_fs();
  mount_fs(const mount_fs&) = delete;
  mount_fs& operator=(const mount_fs&) = delete;

  rest_client& client() { return client_; }
  double cache_seconds() const { return options_.cache_seconds; }
  // The operation table that calls into the mount_fs given as FUSE private data.
  static const fuse_operations& operations();

  // Starts the sweeper that saves scratch files whose creator has ended (FUSE init, after the
  // mount has become a daemon).
  void start();
  // Stops the sweeper, saves every scratch file left and logs out (FUSE destroy).
  void stop();

  int getattr(const std::string& path, struct stat* st);
  int readdir(const std::string& path, std::vector<listed_name>& names);
  int open(const std::string& path, bool truncate, std::uint64_t& handle);
  int create(const std::string& path, pid_t creator, std::uint64_t& handle);
  int read(std::uint64_t handle, char* out, std::size_t size, off_t offset);
  int write(std::uint64_t handle, const char* data, std::size_t size, off_t offset);
  int truncate(const std::string& path, std::optional<std::uint64_t> handle, off_t size);
  int flush(std::uint64_t handle);
  int release(std::uint64_t handle);
  int unlink(const std::string& path);
  int rename(const std::string& from, const std::string& to, unsigned int flags);
  int symlink(const std::string& target, const std::string& path, pid_t creator);
  int readlink(const std::string& path, std::string& target);

 private:
  using clock = std::chrono::steady_clock;

  // An entry of a listed directory; `known` when its content came with the listing or a read.
  struct node {
    bool directory = false;
    bool known = false;
    std::string content;
    std::string tag;
  };
  struct listing {
    clock::time_point fetched;  // when it arrived
    clock::time_point changed;  // the last change of ours remembered in it
    std::map<std::string, node> nodes;  // by mount name
  };
  // One open file, shared by every handle of its path.
  struct open_file {
    std::string path;
    std::vector<std::string> ids;
    std::string content;
    std::string tag;       // the item's tag when read or last saved; empty when none is known
    bool created = false;  // not in the account yet: the save creates it
    bool scratch = false;  // a scratch file: kept in scratch_files_, never saved from here
    bool dirty = false;
    bool unlinked = false;
    unsigned long version = 0;  // counts changes, so a save knows whether it saved the last
    int error = 0;              // a failed save: the handle's later saves and writes fail too
    int handles = 0;
    std::mutex save_mutex;  // one save of the file at a time
  };
  struct scratch_file {
    std::string content;
    pid_t creator = 0;
    bool link = false;  // an emacs lock link: `content` is its target
  };

  bool scratch_name(const std::string& path) const;
  int ensure_listing(const std::string& directory, const std::vector<std::string>& ids);
  // The node of `path` in its directory's listing (copied), fetching what is missing.
  int find_node(const std::string& path, const std::vector<std::string>& ids, node& out,
                bool need_content);
  int save(const std::shared_ptr<open_file>& file);
  int fail_save(const std::shared_ptr<open_file>& file, int error, const std::string& content);
  void forget(const std::string& path);
  void remember(const std::string& path, const std::string& content, const std::string& tag);
  int save_scratch(const std::string& path, const scratch_file& file);
  void sweep(bool everything);
  std::shared_ptr<open_file> file_of(std::uint64_t handle);

  mount_options options_;
  rest_client client_;
  recovery_folder recovery_;
  std::mutex mutex_;
  std::map<std::string, listing> listings_;  // by mount path of the directory
  std::map<std::string, std::shared_ptr<open_file>> open_by_path_;
  std::map<std::uint64_t, std::shared_ptr<open_file>> handles_;
  std::map<std::string, scratch_file> scratch_files_;
  std::uint64_t next_handle_ = 1;

  std::mutex sweeper_mutex_;
  std::condition_variable sweeper_wake_;
  bool stopping_ = false;
  std::thread sweeper_;
};

}  // namespace ombrix::mount
