#include "mount/mount_fs.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "mount/item_content.h"
#include "mount/path_layout.h"
#include "mount/rest_errors.h"
#include "mount/scratch_names.h"
#include "rest/json/json_tokenizer.h"

namespace ombrix::mount {
namespace {

int reply_errno(const rest_reply& reply) {
  return errno_for_reply(reply.status, code_of_reply(reply.body));
}

std::string last_name(const std::string& path) { return path.substr(path.rfind('/') + 1); }

std::string parent_of(const std::string& path) {
  const std::size_t at = path.rfind('/');
  return at == 0 ? "/" : path.substr(0, at);
}

// The entries of a dir reply: {"items":[{"id":..,"attr":..,"size":..},...]}.
std::vector<dir_entry> parse_listing(const std::string& body) {
  std::vector<dir_entry> entries;
  json_tokenizer tokens;
  tokens.init(body.data(), static_cast<std::uint32_t>(body.size()));
  std::string key;
  dir_entry entry;
  int depth = 0;
  for (;;) {
    const std::uint32_t kind = tokens.next();
    if (kind == json_kind::end || kind == json_kind::error) break;
    if (kind == json_kind::begin_object) {
      if (++depth == 2) entry = {};
    } else if (kind == json_kind::end_object) {
      if (depth-- == 2 && !entry.name.empty()) entries.push_back(entry);
    } else if (kind == json_kind::name) {
      key = tokens.string_value();
    } else if (depth == 2 && kind == json_kind::string && key == "id") {
      entry.name = tokens.string_value();
    } else if (depth == 2 && kind == json_kind::integer && key == "attr") {
      entry.directory = (tokens.integer_value() & 0x10) != 0;
    }
  }
  return entries;
}

mount_fs* self() { return static_cast<mount_fs*>(fuse_get_context()->private_data); }

}  // namespace

mount_fs::mount_fs(mount_options options)
    : options_(std::move(options)),
      client_(options_.port, options_.server_name, options_.client, options_.timeout_seconds) {}

bool mount_fs::is_scratch(const std::string& path) const {
  return options_.scratch_rule && path != "/" && is_scratch_name(last_name(path));
}

void mount_fs::drop_caches() {
  const std::lock_guard lock(mutex_);
  listings_.clear();
  contents_.clear();
}

int mount_fs::list(const std::vector<std::string>& names, std::vector<dir_entry>& entries) {
  const std::string key = rest_path(options_.root, names);
  const auto ttl = std::chrono::duration<double>(options_.cache_seconds);
  {
    const std::lock_guard lock(mutex_);
    const auto found = listings_.find(key);
    if (found != listings_.end() && clock::now() - found->second.first < ttl) {
      entries = found->second.second;
      return 0;
    }
  }
  const rest_reply reply = client_.request("GET", "dir/" + key);
  if (const int error = reply_errno(reply)) return error;
  entries = parse_listing(reply.body);
  const std::lock_guard lock(mutex_);
  listings_[key] = {clock::now(), entries};
  return 0;
}

int mount_fs::read_item(const std::string& path, const std::vector<std::string>& names,
                        std::string& content) {
  const auto ttl = std::chrono::duration<double>(options_.cache_seconds);
  {
    const std::lock_guard lock(mutex_);
    const auto found = contents_.find(path);
    if (found != contents_.end() && clock::now() - found->second.first < ttl) {
      content = found->second.second;
      return 0;
    }
  }
  const rest_reply reply = client_.request("GET", "file/" + rest_path(options_.root, names));
  if (const int error = reply_errno(reply)) return error;
  const std::optional<std::string> data = data_of_reply(reply.body);
  if (!data) return EIO;
  const std::optional<std::string> text = data_to_content(*data);
  if (!text) return EIO;
  content = *text;
  const std::lock_guard lock(mutex_);
  contents_[path] = {clock::now(), content};
  return 0;
}

int mount_fs::write_item(const std::vector<std::string>& names, const std::string& content,
                         bool create) {
  const std::string body = "{\"data\":" + content_to_data(content) + "}";
  const rest_reply reply = client_.request(create ? "POST" : "PUT",
                                           (create ? "create/" : "file/") +
                                               rest_path(options_.root, names),
                                           body);
  drop_caches();
  return reply_errno(reply);
}

int mount_fs::delete_item(const std::vector<std::string>& names) {
  const rest_reply reply = client_.request("DELETE", "file/" + rest_path(options_.root, names));
  drop_caches();
  return reply_errno(reply);
}

int mount_fs::getattr(const std::string& path, struct stat* st) {
  std::memset(st, 0, sizeof *st);
  st->st_uid = getuid();
  st->st_gid = getgid();
  st->st_nlink = 1;
  const auto names = split_mount_path(path);
  if (!names) return ENOENT;
  if (names->empty()) {
    st->st_mode = S_IFDIR | 0755;
    st->st_nlink = 2;
    return 0;
  }
  if (is_scratch(path)) {
    const std::lock_guard lock(mutex_);
    const auto found = scratch_files_.find(path);
    if (found == scratch_files_.end()) return ENOENT;
    st->st_mode = S_IFREG | 0644;
    st->st_size = static_cast<off_t>(found->second.size());
    return 0;
  }
  std::vector<dir_entry> entries;
  std::vector<std::string> parent(names->begin(), names->end() - 1);
  if (const int error = list(parent, entries)) return error;
  for (const dir_entry& entry : entries) {
    if (entry.name != names->back()) continue;
    if (entry.directory && names->size() < 3) {
      st->st_mode = S_IFDIR | 0755;
      st->st_nlink = 2;
      return 0;
    }
    std::string content;
    if (const int error = read_item(path, *names, content)) return error;
    st->st_mode = S_IFREG | 0644;
    st->st_size = static_cast<off_t>(content.size());
    return 0;
  }
  return ENOENT;
}

int mount_fs::readdir(const std::string& path, std::vector<std::string>& names_out) {
  const auto names = split_mount_path(path);
  if (!names || names->size() > 2) return ENOTDIR;
  std::vector<dir_entry> entries;
  if (const int error = list(*names, entries)) return error;
  for (const dir_entry& entry : entries) names_out.push_back(entry.name);
  const std::string prefix = path == "/" ? "/" : path + "/";
  const std::lock_guard lock(mutex_);
  for (const auto& [scratch_path, content] : scratch_files_) {
    if (scratch_path.starts_with(prefix) &&
        scratch_path.find('/', prefix.size()) == std::string::npos) {
      names_out.push_back(scratch_path.substr(prefix.size()));
    }
  }
  return 0;
}

int mount_fs::open(const std::string& path, bool truncate, std::uint64_t& handle) {
  auto file = std::make_shared<open_file>();
  file->path = path;
  file->scratch = is_scratch(path);
  if (file->scratch) {
    const std::lock_guard lock(mutex_);
    const auto found = scratch_files_.find(path);
    if (found == scratch_files_.end()) return ENOENT;
    if (truncate) found->second.clear();
    file->content = found->second;
  } else {
    const auto names = split_mount_path(path);
    if (!names || names->empty()) return EISDIR;
    if (!truncate) {
      if (const int error = read_item(path, *names, file->content)) return error;
    } else {
      file->dirty = true;
    }
  }
  const std::lock_guard lock(mutex_);
  handle = next_handle_++;
  open_files_[handle] = std::move(file);
  return 0;
}

int mount_fs::create(const std::string& path, std::uint64_t& handle) {
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return EINVAL;
  auto file = std::make_shared<open_file>();
  file->path = path;
  file->scratch = is_scratch(path);
  if (file->scratch) {
    const std::lock_guard lock(mutex_);
    scratch_files_[path].clear();
  } else {
    if (const int error = write_item(*names, "", true)) return error;
    file->dirty = true;
  }
  const std::lock_guard lock(mutex_);
  handle = next_handle_++;
  open_files_[handle] = std::move(file);
  return 0;
}

int mount_fs::read(std::uint64_t handle, char* out, std::size_t size, off_t offset) {
  const std::lock_guard lock(mutex_);
  const auto found = open_files_.find(handle);
  if (found == open_files_.end()) return -EBADF;
  const std::string& content = found->second->content;
  if (offset < 0 || static_cast<std::size_t>(offset) >= content.size()) return 0;
  const std::size_t count = std::min(size, content.size() - static_cast<std::size_t>(offset));
  std::memcpy(out, content.data() + offset, count);
  return static_cast<int>(count);
}

int mount_fs::write(std::uint64_t handle, const char* data, std::size_t size, off_t offset) {
  const std::lock_guard lock(mutex_);
  const auto found = open_files_.find(handle);
  if (found == open_files_.end()) return -EBADF;
  open_file& file = *found->second;
  const std::size_t end = static_cast<std::size_t>(offset) + size;
  if (file.content.size() < end) file.content.resize(end);
  std::memcpy(file.content.data() + offset, data, size);
  file.dirty = true;
  if (file.scratch) scratch_files_[file.path] = file.content;
  return static_cast<int>(size);
}

int mount_fs::truncate(const std::string& path, std::optional<std::uint64_t> handle, off_t size) {
  if (handle) {
    const std::lock_guard lock(mutex_);
    const auto found = open_files_.find(*handle);
    if (found == open_files_.end()) return EBADF;
    found->second->content.resize(static_cast<std::size_t>(size));
    found->second->dirty = true;
    if (found->second->scratch) scratch_files_[path] = found->second->content;
    return 0;
  }
  if (is_scratch(path)) {
    const std::lock_guard lock(mutex_);
    const auto found = scratch_files_.find(path);
    if (found == scratch_files_.end()) return ENOENT;
    found->second.resize(static_cast<std::size_t>(size));
    return 0;
  }
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return EISDIR;
  std::string content;
  if (const int error = read_item(path, *names, content)) return error;
  content.resize(static_cast<std::size_t>(size));
  return write_item(*names, content, false);
}

int mount_fs::flush(std::uint64_t handle) {
  std::shared_ptr<open_file> file;
  std::string content;
  {
    const std::lock_guard lock(mutex_);
    const auto found = open_files_.find(handle);
    if (found == open_files_.end()) return EBADF;
    file = found->second;
    if (!file->dirty || file->scratch) return 0;
    content = file->content;
    file->dirty = false;
  }
  const auto names = split_mount_path(file->path);
  if (!names) return EINVAL;
  const int error = write_item(*names, content, false);
  if (error) {
    const std::lock_guard lock(mutex_);
    file->dirty = true;
  }
  return error;
}

int mount_fs::release(std::uint64_t handle) {
  const int error = flush(handle);
  const std::lock_guard lock(mutex_);
  open_files_.erase(handle);
  return error;
}

int mount_fs::unlink(const std::string& path) {
  if (is_scratch(path)) {
    const std::lock_guard lock(mutex_);
    return scratch_files_.erase(path) ? 0 : ENOENT;
  }
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return ENOENT;
  struct stat st;
  if (const int error = getattr(path, &st)) return error;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  return delete_item(*names);
}

int mount_fs::rename(const std::string& from, const std::string& to, unsigned int flags) {
  if (flags != 0) return EINVAL;
  const auto old_names = split_mount_path(from);
  const auto new_names = split_mount_path(to);
  if (!old_names || !new_names || old_names->empty() || new_names->empty()) return EINVAL;
  if (parent_of(from) != parent_of(to)) return EXDEV;
  struct stat st;
  if (const int error = getattr(from, &st)) return error;
  if (S_ISDIR(st.st_mode)) return EPERM;
  const bool from_scratch = is_scratch(from);
  const bool to_scratch = is_scratch(to);
  if (from_scratch && to_scratch) {
    const std::lock_guard lock(mutex_);
    std::string content = std::move(scratch_files_[from]);
    scratch_files_.erase(from);
    scratch_files_[to] = std::move(content);
    return 0;
  }
  if (!from_scratch && to_scratch) {
    std::string content;
    if (const int error = read_item(from, *old_names, content)) return error;
    if (const int error = delete_item(*old_names)) return error;
    const std::lock_guard lock(mutex_);
    scratch_files_[to] = std::move(content);
    return 0;
  }
  struct stat target;
  const int target_error = getattr(to, &target);
  if (target_error == 0 && S_ISDIR(target.st_mode)) return EISDIR;
  if (from_scratch) {
    std::string content;
    {
      const std::lock_guard lock(mutex_);
      content = scratch_files_[from];
    }
    if (const int error = write_item(*new_names, content, target_error != 0)) return error;
    const std::lock_guard lock(mutex_);
    scratch_files_.erase(from);
    return 0;
  }
  if (target_error == 0) {
    if (const int error = delete_item(*new_names)) return error;
  }
  const rest_reply reply =
      client_.request("GET", "rename/" + rest_path(options_.root, *old_names) +
                                 "?newname=" + rest_path(options_.root, *new_names));
  drop_caches();
  return reply_errno(reply);
}

namespace {

int op_getattr(const char* path, struct stat* st, fuse_file_info*) {
  return -self()->getattr(path, st);
}

int op_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags) {
  std::vector<std::string> names;
  if (const int error = self()->readdir(path, names)) return -error;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const std::string& name : names) {
    fill(buffer, name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  }
  return 0;
}

int op_open(const char* path, fuse_file_info* fi) {
  std::uint64_t handle = 0;
  const int error = self()->open(path, (fi->flags & O_TRUNC) != 0, handle);
  fi->fh = handle;
  fi->direct_io = 1;
  return -error;
}

int op_create(const char* path, mode_t, fuse_file_info* fi) {
  std::uint64_t handle = 0;
  const int error = self()->create(path, handle);
  fi->fh = handle;
  fi->direct_io = 1;
  return -error;
}

int op_read(const char*, char* out, std::size_t size, off_t offset, fuse_file_info* fi) {
  return self()->read(fi->fh, out, size, offset);
}

int op_write(const char*, const char* data, std::size_t size, off_t offset, fuse_file_info* fi) {
  return self()->write(fi->fh, data, size, offset);
}

int op_truncate(const char* path, off_t size, fuse_file_info* fi) {
  return -self()->truncate(path, fi ? std::optional<std::uint64_t>(fi->fh) : std::nullopt, size);
}

int op_flush(const char*, fuse_file_info* fi) { return -self()->flush(fi->fh); }
int op_fsync(const char*, int, fuse_file_info* fi) { return -self()->flush(fi->fh); }
int op_release(const char*, fuse_file_info* fi) { return -self()->release(fi->fh); }
int op_unlink(const char* path) { return -self()->unlink(path); }
int op_rename(const char* from, const char* to, unsigned int flags) {
  return -self()->rename(from, to, flags);
}
int op_mkdir(const char*, mode_t) { return -EPERM; }
int op_rmdir(const char*) { return -EPERM; }
int op_chmod(const char*, mode_t, fuse_file_info*) { return 0; }
int op_chown(const char*, uid_t, gid_t, fuse_file_info*) { return 0; }
int op_utimens(const char*, const timespec*, fuse_file_info*) { return 0; }
void op_destroy(void* data) { static_cast<mount_fs*>(data)->client().logout(); }

fuse_operations make_operations() {
  fuse_operations ops{};
  ops.getattr = op_getattr;
  ops.readdir = op_readdir;
  ops.open = op_open;
  ops.create = op_create;
  ops.read = op_read;
  ops.write = op_write;
  ops.truncate = op_truncate;
  ops.flush = op_flush;
  ops.fsync = op_fsync;
  ops.release = op_release;
  ops.unlink = op_unlink;
  ops.rename = op_rename;
  ops.mkdir = op_mkdir;
  ops.rmdir = op_rmdir;
  ops.chmod = op_chmod;
  ops.chown = op_chown;
  ops.utimens = op_utimens;
  ops.destroy = op_destroy;
  return ops;
}

}  // namespace

const fuse_operations& mount_fs::operations() {
  static const fuse_operations ops = make_operations();
  return ops;
}

}  // namespace ombrix::mount
