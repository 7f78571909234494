#include "mount/mount_fs.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>

#include "host/item_files.h"
#include "mount/item_content.h"
#include "mount/path_layout.h"
#include "mount/rest_errors.h"
#include "mount/scratch_names.h"
#include "json/json_tokenizer.h"

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

// The JSON array that starts at the tokenizer's position, as text, leaving the tokenizer after
// it; nothing when it is no array.
std::optional<std::string_view> array_text(json_tokenizer& tokens, std::string_view body) {
  std::uint32_t start = tokens.position();
  if (tokens.next() != json_kind::begin_array) return std::nullopt;
  int depth = 1;
  while (depth > 0) {
    const std::uint32_t kind = tokens.next();
    if (kind == json_kind::end || kind == json_kind::error) return std::nullopt;
    if (kind == json_kind::begin_array) ++depth;
    if (kind == json_kind::end_array) --depth;
  }
  std::string_view text = body.substr(start, tokens.position() - start);
  while (!text.empty() && text.front() != '[') text.remove_prefix(1);
  return text;
}

struct listed_entry {
  std::string id;
  bool directory = false;
  bool known = false;
  std::string content;
  std::string tag;
  std::int64_t mtime = 0;
};

std::int64_t now_nanoseconds() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

// Modification, access and change time of a file: the item's modification time.
void fill_times(struct stat* st, std::int64_t nanoseconds) {
  const auto floor_seconds = nanoseconds >= 0 ? nanoseconds / 1000000000
                                              : -((-nanoseconds + 999999999) / 1000000000);
  st->st_mtim.tv_sec = static_cast<time_t>(floor_seconds);
  st->st_mtim.tv_nsec = static_cast<long>(nanoseconds - floor_seconds * 1000000000);
  st->st_atim = st->st_mtim;
  st->st_ctim = st->st_mtim;
}

// The entries of a dir reply: {"items":[{"id":..,"attr":..,"size":..,"data":[..],"etag":..}]}.
std::vector<listed_entry> parse_listing(const std::string& body) {
  std::vector<listed_entry> entries;
  json_tokenizer tokens;
  tokens.init(body.data(), static_cast<std::uint32_t>(body.size()));
  std::string key;
  listed_entry entry;
  int depth = 0;
  for (;;) {
    const std::uint32_t kind = tokens.next();
    if (kind == json_kind::end || kind == json_kind::error) break;
    if (kind == json_kind::begin_object) {
      if (++depth == 2) entry = {};
    } else if (kind == json_kind::end_object) {
      if (depth-- == 2 && !entry.id.empty()) entries.push_back(std::move(entry));
    } else if (kind == json_kind::name) {
      key = tokens.string_value();
      if (depth == 2 && key == "data") {
        const std::optional<std::string_view> data = array_text(tokens, body);
        if (!data) break;
        if (std::optional<std::string> content = data_to_content(*data)) {
          entry.known = true;
          entry.content = std::move(*content);
        }
      }
    } else if (depth == 2 && kind == json_kind::string && key == "id") {
      entry.id = tokens.string_value();
    } else if (depth == 2 && kind == json_kind::string && key == "etag") {
      entry.tag = tokens.string_value();
    } else if (depth == 2 && kind == json_kind::integer && key == "attr") {
      entry.directory = (tokens.integer_value() & 0x10) != 0;
    } else if (depth == 2 && kind == json_kind::integer && key == "mtime") {
      entry.mtime = tokens.integer_value();
    }
  }
  return entries;
}

bool process_alive(pid_t pid) {
  std::error_code error;
  return pid <= 0 || std::filesystem::exists("/proc/" + std::to_string(pid), error);
}

void fill_file(struct stat* st, std::size_t size) {
  st->st_mode = S_IFREG | 0644;
  st->st_size = static_cast<off_t>(size);
  st->st_blocks = static_cast<blkcnt_t>((size + 511) / 512);
}

void fill_directory(struct stat* st) {
  st->st_mode = S_IFDIR | 0755;
  st->st_nlink = 2;
}

mount_fs* self() { return static_cast<mount_fs*>(fuse_get_context()->private_data); }

// The largest content a file may have: what one request body of the server may carry.
constexpr std::uint64_t largest_file = 128ull * 1024 * 1024;

}  // namespace

mount_fs::mount_fs(mount_options options)
    : options_(std::move(options)),
      client_(options_.port, options_.server_name, options_.client, options_.timeout_seconds),
      recovery_(options_.recovery_folder) {}

mount_fs::~mount_fs() {
  if (sweeper_.joinable()) {
    {
      const std::lock_guard lock(sweeper_mutex_);
      stopping_ = true;
    }
    sweeper_wake_.notify_all();
    sweeper_.join();
  }
}

void mount_fs::start() {
  sweeper_ = std::thread([this] {
    std::unique_lock lock(sweeper_mutex_);
    while (!stopping_) {
      sweeper_wake_.wait_for(lock, std::chrono::milliseconds(500));
      if (stopping_) break;
      lock.unlock();
      sweep(false);
      lock.lock();
    }
  });
}

void mount_fs::stop() {
  if (sweeper_.joinable()) {
    {
      const std::lock_guard lock(sweeper_mutex_);
      stopping_ = true;
    }
    sweeper_wake_.notify_all();
    sweeper_.join();
  }
  sweep(true);
  client_.logout();
}

bool mount_fs::scratch_name(const std::string& path) const {
  return options_.scratch_rule && path != "/" && is_scratch_name(last_name(path));
}

std::shared_ptr<mount_fs::open_file> mount_fs::file_of(std::uint64_t handle) {
  const auto found = handles_.find(handle);
  return found == handles_.end() ? nullptr : found->second;
}

int mount_fs::ensure_listing(const std::string& directory, const std::vector<std::string>& ids) {
  const auto ttl = std::chrono::duration<double>(options_.cache_seconds);
  {
    const std::lock_guard lock(mutex_);
    const auto found = listings_.find(directory);
    if (found != listings_.end() && clock::now() - found->second.fetched < ttl) return 0;
  }
  // A listing asked for before a change of ours was remembered may not show that change: it is
  // asked for again (a few times at most; then the older listing is kept as it is).
  for (int attempt = 0; attempt < 3; ++attempt) {
    const clock::time_point asked = clock::now();
    const rest_reply reply =
        client_.request("GET", with_query("dir/" + rest_path(options_.root, ids), "data=1"));
    if (const int error = reply_errno(reply)) return error;
    listing fresh;
    for (listed_entry& entry : parse_listing(reply.body)) {
      node& n = fresh.nodes[file_name_of_id(entry.id)];
      n.directory = entry.directory;
      n.known = entry.known;
      n.content = std::move(entry.content);
      n.tag = std::move(entry.tag);
      n.mtime = entry.mtime;
    }
    const std::lock_guard lock(mutex_);
    listing& kept = listings_[directory];
    if (kept.changed < asked || attempt == 2) {
      // Kept for the cache time from its arrival: a listing that took long to come (a large
      // section on a busy machine) is not asked for again at once.
      fresh.fetched = clock::now();
      fresh.changed = kept.changed;
      kept = std::move(fresh);
      return 0;
    }
  }
  return 0;
}

int mount_fs::find_node(const std::string& path, const std::vector<std::string>& ids, node& out,
                        bool need_content) {
  const std::string directory = parent_of(path);
  const std::vector<std::string> directory_ids(ids.begin(), ids.end() - 1);
  if (const int error = ensure_listing(directory, directory_ids)) return error;
  const std::string name = last_name(path);
  {
    const std::lock_guard lock(mutex_);
    const listing& l = listings_[directory];
    const auto found = l.nodes.find(name);
    if (found == l.nodes.end()) return ENOENT;
    out = found->second;
  }
  if (!need_content || out.known || (out.directory && ids.size() < 3)) return 0;
  const rest_reply reply =
      client_.request("GET", with_query("file/" + item_rest_path(options_.root, ids), "etag=1"));
  if (const int error = reply_errno(reply)) return error;
  const std::optional<std::string> data = data_of_reply(reply.body);
  if (!data) return EIO;
  std::optional<std::string> content = data_to_content(*data);
  if (!content) return EIO;
  out.known = true;
  out.content = std::move(*content);
  out.tag = reply.etag;
  const std::lock_guard lock(mutex_);
  auto& nodes = listings_[directory].nodes;
  const auto found = nodes.find(name);
  if (found != nodes.end()) found->second = out;
  return 0;
}

void mount_fs::remember(const std::string& path, const std::string& content,
                        const std::string& tag) {
  listing& l = listings_[parent_of(path)];
  node& n = l.nodes[last_name(path)];
  n.directory = false;
  n.known = true;
  n.content = content;
  n.tag = tag;
  n.mtime = now_nanoseconds();  // the account's own is within moments of it; listings bring it
  l.changed = clock::now();
}

void mount_fs::forget(const std::string& path) {
  const auto found = listings_.find(parent_of(path));
  if (found == listings_.end()) return;
  found->second.nodes.erase(last_name(path));
  found->second.changed = clock::now();
}

int mount_fs::getattr(const std::string& path, struct stat* st) {
  std::memset(st, 0, sizeof *st);
  st->st_uid = getuid();
  st->st_gid = getgid();
  st->st_nlink = 1;
  st->st_blksize = 4096;
  const auto names = split_mount_path(path);
  if (!names) return ENOENT;
  if (names->empty()) {
    fill_directory(st);
    return 0;
  }
  {
    const std::lock_guard lock(mutex_);
    const auto scratch = scratch_files_.find(path);
    if (scratch != scratch_files_.end()) {
      fill_file(st, scratch->second.content.size());
      if (scratch->second.link) st->st_mode = S_IFLNK | 0777;
      return 0;
    }
    const auto open = open_by_path_.find(path);
    if (open != open_by_path_.end()) {
      fill_file(st, open->second->content.size());
      fill_times(st, open->second->mtime);
      return 0;
    }
  }
  const auto ids = ids_of_names(*names);
  if (!ids) return ENOENT;
  node n;
  if (const int error = find_node(path, *ids, n, true)) return error;
  if (n.directory && names->size() < 3) {
    fill_directory(st);
  } else {
    fill_file(st, n.content.size());
    fill_times(st, n.mtime);
  }
  return 0;
}

int mount_fs::readdir(const std::string& path, std::vector<listed_name>& names_out) {
  const auto names = split_mount_path(path);
  if (!names || names->size() > 2) return ENOTDIR;
  const auto ids = ids_of_names(*names);
  if (!ids) return ENOENT;
  if (const int error = ensure_listing(path, *ids)) return error;
  const std::string prefix = path == "/" ? "/" : path + "/";
  const auto in_directory = [&](const std::string& p) {
    return p.starts_with(prefix) && p.find('/', prefix.size()) == std::string::npos;
  };
  const std::lock_guard lock(mutex_);
  const listing& l = listings_[path];
  // Entries whose attributes are known go to the kernel with them (no lookup each); the open
  // and scratch files of the directory are looked up, so that they show their own sizes.
  const auto open_or_scratch = [&](const std::string& name) {
    return open_by_path_.contains(prefix + name) || scratch_files_.contains(prefix + name);
  };
  for (const auto& [name, n] : l.nodes) {
    listed_name& out = names_out.emplace_back();
    out.name = name;
    if (open_or_scratch(name) || (!n.known && !(n.directory && names->size() < 2))) continue;
    out.has_attributes = true;
    out.attributes.st_uid = getuid();
    out.attributes.st_gid = getgid();
    out.attributes.st_nlink = 1;
    out.attributes.st_blksize = 4096;
    if (n.directory && names->size() < 2) {
      fill_directory(&out.attributes);
    } else {
      fill_file(&out.attributes, n.content.size());
      fill_times(&out.attributes, n.mtime);
    }
  }
  for (const auto& [scratch_path, file] : scratch_files_) {
    if (in_directory(scratch_path) && !l.nodes.contains(scratch_path.substr(prefix.size()))) {
      names_out.push_back({scratch_path.substr(prefix.size())});
    }
  }
  for (const auto& [open_path, file] : open_by_path_) {
    if (file->created && in_directory(open_path) &&
        !l.nodes.contains(open_path.substr(prefix.size()))) {
      names_out.push_back({open_path.substr(prefix.size())});
    }
  }
  return 0;
}

int mount_fs::open(const std::string& path, bool truncate, std::uint64_t& handle) {
  {
    const std::lock_guard lock(mutex_);
    std::shared_ptr<open_file> file;
    const auto open = open_by_path_.find(path);
    if (open != open_by_path_.end()) {
      file = open->second;
    } else if (const auto scratch = scratch_files_.find(path); scratch != scratch_files_.end()) {
      file = std::make_shared<open_file>();
      file->path = path;
      file->scratch = true;
      file->content = scratch->second.content;
      open_by_path_[path] = file;
    }
    if (file) {
      if (file->error != 0) return file->error;
      if (truncate) {
        file->content.clear();
        file->dirty = true;
        file->mtime = now_nanoseconds();
        ++file->version;
        if (file->scratch) scratch_files_[path].content.clear();
      }
      ++file->handles;
      handle = next_handle_++;
      handles_[handle] = file;
      return 0;
    }
  }
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return EISDIR;
  const auto ids = ids_of_names(*names);
  if (!ids) return ENOENT;
  node n;
  if (const int error = find_node(path, *ids, n, !truncate)) return error;
  if (n.directory && names->size() < 3) return EISDIR;
  auto file = std::make_shared<open_file>();
  file->path = path;
  file->ids = *ids;
  if (truncate) {
    // Replacing the whole content builds on nothing that was read: saved without a condition.
    file->dirty = true;
    file->mtime = now_nanoseconds();
  } else {
    file->content = std::move(n.content);
    file->tag = std::move(n.tag);
    file->mtime = n.mtime;
  }
  const std::lock_guard lock(mutex_);
  const auto open = open_by_path_.find(path);
  if (open != open_by_path_.end()) {
    file = open->second;  // opened meanwhile by another thread: share it
  } else {
    open_by_path_[path] = file;
  }
  ++file->handles;
  handle = next_handle_++;
  handles_[handle] = file;
  return 0;
}

int mount_fs::create(const std::string& path, pid_t creator, std::uint64_t& handle) {
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return EINVAL;
  const auto ids = ids_of_names(*names);
  if (!ids) return EINVAL;
  bool scratch = false;
  if (scratch_name(path)) {
    node n;
    const int error = find_node(path, *ids, n, false);
    if (error != 0 && error != ENOENT) return error;
    scratch = error == ENOENT;  // an item of that name makes the name real
  }
  const std::lock_guard lock(mutex_);
  std::shared_ptr<open_file> file;
  const auto open = open_by_path_.find(path);
  if (open != open_by_path_.end()) {
    file = open->second;
    file->content.clear();
    file->dirty = true;
    file->mtime = now_nanoseconds();
    ++file->version;
  } else {
    file = std::make_shared<open_file>();
    file->path = path;
    file->ids = *ids;
    file->scratch = scratch;
    file->created = !scratch;
    file->dirty = !scratch;
    file->mtime = now_nanoseconds();
    if (scratch) scratch_files_[path] = scratch_file{{}, creator, false};
    open_by_path_[path] = file;
  }
  ++file->handles;
  handle = next_handle_++;
  handles_[handle] = file;
  return 0;
}

int mount_fs::read(std::uint64_t handle, char* out, std::size_t size, off_t offset) {
  const std::lock_guard lock(mutex_);
  const std::shared_ptr<open_file> file = file_of(handle);
  if (!file) return -EBADF;
  const std::string& content = file->content;
  if (offset < 0 || static_cast<std::size_t>(offset) >= content.size()) return 0;
  const std::size_t count = std::min(size, content.size() - static_cast<std::size_t>(offset));
  std::memcpy(out, content.data() + offset, count);
  return static_cast<int>(count);
}

int mount_fs::write(std::uint64_t handle, const char* data, std::size_t size, off_t offset) {
  const std::lock_guard lock(mutex_);
  const std::shared_ptr<open_file> file = file_of(handle);
  if (!file) return -EBADF;
  if (file->error != 0) return -file->error;
  if (offset < 0) return -EINVAL;
  if (static_cast<std::uint64_t>(offset) + size > largest_file) return -EFBIG;
  const std::size_t end = static_cast<std::size_t>(offset) + size;
  if (file->content.size() < end) file->content.resize(end);
  std::memcpy(file->content.data() + offset, data, size);
  file->dirty = true;
  file->mtime = now_nanoseconds();
  ++file->version;
  if (file->scratch) scratch_files_[file->path].content = file->content;
  return static_cast<int>(size);
}

int mount_fs::truncate(const std::string& path, std::optional<std::uint64_t> handle, off_t size) {
  if (size < 0) return EINVAL;
  if (static_cast<std::uint64_t>(size) > largest_file) return EFBIG;
  std::shared_ptr<open_file> file;
  {
    const std::lock_guard lock(mutex_);
    if (handle) {
      file = file_of(*handle);
      if (!file) return EBADF;
    } else if (const auto open = open_by_path_.find(path); open != open_by_path_.end()) {
      file = open->second;
    } else if (const auto scratch = scratch_files_.find(path); scratch != scratch_files_.end()) {
      scratch->second.content.resize(static_cast<std::size_t>(size));
      return 0;
    }
    if (file) {
      if (file->error != 0) return file->error;
      file->content.resize(static_cast<std::size_t>(size));
      file->dirty = true;
      file->mtime = now_nanoseconds();
      ++file->version;
      if (file->scratch) scratch_files_[file->path].content = file->content;
      if (handle) return 0;
    }
  }
  if (file) return file->scratch ? 0 : save(file);  // truncate(2) of a path takes effect now
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return EISDIR;
  const auto ids = ids_of_names(*names);
  if (!ids) return ENOENT;
  node n;
  if (const int error = find_node(path, *ids, n, true)) return error;
  if (n.directory && names->size() < 3) return EISDIR;
  auto temporary = std::make_shared<open_file>();
  temporary->path = path;
  temporary->ids = *ids;
  temporary->content = std::move(n.content);
  temporary->content.resize(static_cast<std::size_t>(size));
  temporary->tag = std::move(n.tag);
  temporary->dirty = true;
  return save(temporary);
}

int mount_fs::fail_save(const std::shared_ptr<open_file>& file, int error,
                        const std::string& content) {
  std::string path;
  {
    const std::lock_guard lock(mutex_);
    path = file->path;
    file->error = error;
    file->dirty = false;
    // Its handles keep failing; the next open of the path starts afresh from the account.
    const auto open = open_by_path_.find(file->path);
    if (open != open_by_path_.end() && open->second == file) open_by_path_.erase(open);
  }
  const std::string kept = recovery_.keep(path, content);
  std::fprintf(stderr, "ombrix-mount: saving %s failed (%s); its bytes are kept in %s\n",
               path.c_str(), std::strerror(error),
               kept.empty() ? "no file (the recovery folder cannot be written)" : kept.c_str());
  return error;
}

int mount_fs::save(const std::shared_ptr<open_file>& file) {
  const std::lock_guard saving(file->save_mutex);
  std::string content;
  std::string tag;
  std::vector<std::string> ids;
  unsigned long version = 0;
  bool created = false;
  {
    const std::lock_guard lock(mutex_);
    if (file->error != 0) return file->error;
    if (!file->dirty || file->unlinked || file->scratch) return 0;
    content = file->content;
    tag = file->tag;
    ids = file->ids;  // a rename may change them meanwhile
    version = file->version;
    created = file->created;
  }
  std::string data;
  if (const int error = content_to_data(content, data)) return fail_save(file, error, content);
  std::vector<std::string> headers;
  if (created) {
    headers.emplace_back("If-None-Match: *");
  } else if (!tag.empty()) {
    headers.push_back("If-Match: \"" + tag + "\"");
  }
  const rest_reply reply =
      client_.request("PUT", with_query("file/" + item_rest_path(options_.root, ids), "etag=1"),
                      "{\"data\":" + data + "}", headers);
  if (const int error = reply_errno(reply)) return fail_save(file, error, content);
  const std::lock_guard lock(mutex_);
  file->tag = reply.etag;
  file->created = false;
  if (file->version == version) file->dirty = false;
  if (!file->unlinked) remember(file->path, content, reply.etag);
  return 0;
}

int mount_fs::flush(std::uint64_t handle) {
  std::shared_ptr<open_file> file;
  {
    const std::lock_guard lock(mutex_);
    file = file_of(handle);
    if (!file) return EBADF;
  }
  return save(file);
}

int mount_fs::release(std::uint64_t handle) {
  std::shared_ptr<open_file> file;
  {
    const std::lock_guard lock(mutex_);
    file = file_of(handle);
    if (!file) return EBADF;
  }
  const int error = save(file);
  const std::lock_guard lock(mutex_);
  handles_.erase(handle);
  if (--file->handles == 0) {
    const auto open = open_by_path_.find(file->path);
    if (open != open_by_path_.end() && open->second == file) open_by_path_.erase(open);
  }
  return error;
}

int mount_fs::unlink(const std::string& path) {
  {
    const std::lock_guard lock(mutex_);
    const auto open = open_by_path_.find(path);
    const bool scratch = scratch_files_.erase(path) != 0;
    bool created = false;
    if (open != open_by_path_.end()) {
      open->second->unlinked = true;
      created = open->second->created || open->second->scratch;
      open_by_path_.erase(open);
    }
    if (scratch || created) return 0;  // nothing of it is in the account
  }
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return ENOENT;
  const auto ids = ids_of_names(*names);
  if (!ids) return ENOENT;
  node n;
  if (const int error = find_node(path, *ids, n, false)) return error;
  if (n.directory && names->size() < 3) return EISDIR;
  const rest_reply reply = client_.request("DELETE", "file/" + item_rest_path(options_.root, *ids));
  const int error = reply_errno(reply);
  if (error == 0 || error == ENOENT) {
    const std::lock_guard lock(mutex_);
    forget(path);
  }
  return error;
}

int mount_fs::save_scratch(const std::string& path, const scratch_file& file) {
  const auto names = split_mount_path(path);
  const auto ids = names ? ids_of_names(*names) : std::nullopt;
  if (!ids || ids->empty()) return EINVAL;
  std::string data;
  if (const int error = content_to_data(file.content, data)) return error;
  const rest_reply reply =
      client_.request("PUT", with_query("file/" + item_rest_path(options_.root, *ids), "etag=1"),
                      "{\"data\":" + data + "}", {"If-None-Match: *"});
  if (const int error = reply_errno(reply)) return error;
  const std::lock_guard lock(mutex_);
  remember(path, file.content, reply.etag);
  return 0;
}

void mount_fs::sweep(bool everything) {
  std::vector<std::pair<std::string, scratch_file>> due;
  {
    const std::lock_guard lock(mutex_);
    for (const auto& [path, file] : scratch_files_) {
      if (file.link || open_by_path_.contains(path)) continue;
      if (everything || !process_alive(file.creator)) due.emplace_back(path, file);
    }
  }
  for (const auto& [path, file] : due) {
    const int error = save_scratch(path, file);
    const std::lock_guard lock(mutex_);
    const auto found = scratch_files_.find(path);
    const bool unchanged = found != scratch_files_.end() &&
                           found->second.content == file.content && !open_by_path_.contains(path);
    if (error == 0 && unchanged) scratch_files_.erase(found);
    if (error != 0 && everything) {
      const std::string kept = recovery_.keep(path, file.content);
      std::fprintf(stderr, "ombrix-mount: saving %s failed (%s); its bytes are kept in %s\n",
                   path.c_str(), std::strerror(error), kept.c_str());
    }
  }
}

int mount_fs::rename(const std::string& from, const std::string& to, unsigned int flags) {
  if ((flags & ~static_cast<unsigned int>(RENAME_NOREPLACE)) != 0) return EINVAL;
  const bool no_replace = (flags & RENAME_NOREPLACE) != 0;
  const auto old_names = split_mount_path(from);
  const auto new_names = split_mount_path(to);
  if (!old_names || !new_names || old_names->empty() || new_names->empty()) return EINVAL;
  if (parent_of(from) != parent_of(to)) return EXDEV;
  const auto old_ids = ids_of_names(*old_names);
  const auto new_ids = ids_of_names(*new_names);
  if (!old_ids || !new_ids) return EINVAL;
  if (from == to) return 0;

  // What is at the target: a scratch file, an item (or directory), or nothing.
  bool target_scratch = false;
  {
    const std::lock_guard lock(mutex_);
    target_scratch = scratch_files_.contains(to);
  }
  node target;
  int target_error = 0;
  if (!target_scratch) {
    target_error = find_node(to, *new_ids, target, false);
    if (target_error != 0 && target_error != ENOENT) return target_error;
    if (target_error == 0 && target.directory && new_names->size() < 3) return EISDIR;
  }
  const bool target_exists = target_scratch || target_error == 0;
  if (target_exists && no_replace) return EEXIST;

  std::optional<scratch_file> source_scratch;
  std::shared_ptr<open_file> source_open;
  {
    const std::lock_guard lock(mutex_);
    if (const auto found = scratch_files_.find(from); found != scratch_files_.end()) {
      source_scratch = found->second;
    }
    if (const auto found = open_by_path_.find(from); found != open_by_path_.end()) {
      source_open = found->second;
    }
  }
  if (source_scratch) {
    if (target_scratch || (target_error == ENOENT && scratch_name(to))) {
      const std::lock_guard lock(mutex_);
      scratch_files_[to] = std::move(*source_scratch);
      scratch_files_.erase(from);
      if (source_open) {
        open_by_path_.erase(from);
        source_open->path = to;
        source_open->ids = *new_ids;
        open_by_path_[to] = source_open;
      }
      return 0;
    }
    // A scratch file renamed to a real name becomes that item, replacing it in one step.
    std::string data;
    if (const int error = content_to_data(source_scratch->content, data)) return error;
    std::vector<std::string> headers;
    if (!target_exists) headers.emplace_back("If-None-Match: *");
    const rest_reply reply = client_.request(
        "PUT", with_query("file/" + item_rest_path(options_.root, *new_ids), "etag=1"),
        "{\"data\":" + data + "}", headers);
    if (const int error = reply_errno(reply)) return error;
    const std::lock_guard lock(mutex_);
    scratch_files_.erase(from);
    remember(to, source_scratch->content, reply.etag);
    if (source_open) {
      open_by_path_.erase(from);
      source_open->path = to;
      source_open->ids = *new_ids;
      source_open->scratch = false;
      source_open->tag = reply.etag;
      open_by_path_[to] = source_open;
    }
    return 0;
  }
  if (target_scratch) {
    const std::lock_guard lock(mutex_);
    scratch_files_.erase(to);  // replaced by the item renamed onto its name
  }

  // An open file goes with its name: what it holds is saved first (a new file is created).
  if (source_open) {
    if (const int error = save(source_open)) return error;
  }
  node source;
  if (!source_open) {
    if (const int error = find_node(from, *old_ids, source, false)) return error;
    if (source.directory && old_names->size() < 3) return EPERM;
  }
  std::string request = "rename/" + item_rest_path(options_.root, *old_ids);
  if (file_name_of_id(new_ids->back()) == new_ids->back()) {
    request = with_query(request, "newname=" + rest_path(options_.root, *new_ids));
  } else {
    request = with_query(request, "newid=" + encode_segment(new_ids->back()));
  }
  if (!no_replace) request = with_query(request, "replace=1");
  const rest_reply reply = client_.request("GET", request);
  if (const int error = reply_errno(reply)) return error;

  const std::lock_guard lock(mutex_);
  listing& l = listings_[parent_of(from)];
  const auto moved = l.nodes.find(last_name(from));
  if (moved != l.nodes.end()) {
    node kept = std::move(moved->second);
    l.nodes.erase(moved);
    l.nodes[last_name(to)] = std::move(kept);
    l.changed = clock::now();
  } else {
    l.nodes.erase(last_name(to));
    l.fetched = clock::time_point{};  // not known here: listed afresh on the next look
  }
  if (const auto replaced = open_by_path_.find(to); replaced != open_by_path_.end()) {
    open_by_path_.erase(replaced);  // its saves now find another item and fail
  }
  if (source_open && open_by_path_.contains(from) && open_by_path_[from] == source_open) {
    open_by_path_.erase(from);
    source_open->path = to;
    source_open->ids = *new_ids;
    open_by_path_[to] = source_open;
  }
  return 0;
}

int mount_fs::symlink(const std::string& target, const std::string& path, pid_t creator) {
  if (!options_.scratch_rule || !is_lock_link_name(last_name(path))) return EPERM;
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return EINVAL;
  const std::lock_guard lock(mutex_);
  if (scratch_files_.contains(path) || open_by_path_.contains(path)) return EEXIST;
  scratch_files_[path] = scratch_file{target, creator, true};
  return 0;
}

int mount_fs::utimens(const std::string& path, std::optional<std::int64_t> nanoseconds) {
  if (!nanoseconds) return 0;
  std::shared_ptr<open_file> file;
  {
    const std::lock_guard lock(mutex_);
    if (scratch_files_.contains(path)) return 0;  // kept in memory only, without a time
    const auto open = open_by_path_.find(path);
    if (open != open_by_path_.end()) file = open->second;
  }
  // A time set on unsaved changes is not undone when they are saved: they are saved first.
  if (file) {
    if (const int error = save(file)) return error;
  }
  const auto names = split_mount_path(path);
  if (!names || names->empty()) return 0;
  const auto ids = ids_of_names(*names);
  if (!ids) return ENOENT;
  node n;
  if (const int error = find_node(path, *ids, n, false)) return error;
  if (n.directory && names->size() < 3) return 0;  // directories have no time of their own
  const rest_reply reply = client_.request(
      "POST", with_query("touch/" + item_rest_path(options_.root, *ids),
                         "mtime=" + std::to_string(*nanoseconds)));
  // 400: a server or host without times; the file keeps what it shows.
  if (reply.status == 400) return 0;
  if (const int error = reply_errno(reply)) return error;
  const std::lock_guard lock(mutex_);
  if (file) file->mtime = *nanoseconds;
  auto& nodes = listings_[parent_of(path)].nodes;
  const auto found = nodes.find(last_name(path));
  if (found != nodes.end()) found->second.mtime = *nanoseconds;
  return 0;
}

int mount_fs::readlink(const std::string& path, std::string& target) {
  const std::lock_guard lock(mutex_);
  const auto found = scratch_files_.find(path);
  if (found == scratch_files_.end()) return ENOENT;
  if (!found->second.link) return EINVAL;
  target = found->second.content;
  return 0;
}

namespace {

// Runs one operation that returns an errno (0 for success); an exception (memory) becomes an
// errno instead of ending the mount.
template <typename Operation>
int guarded(Operation&& operation) noexcept {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return ENOMEM;
  } catch (...) {
    return EIO;
  }
}

// The same for read and write, which return a byte count or a negative errno.
template <typename Operation>
int guarded_count(Operation&& operation) noexcept {
  try {
    return operation();
  } catch (const std::bad_alloc&) {
    return -ENOMEM;
  } catch (...) {
    return -EIO;
  }
}

void* op_init(fuse_conn_info* connection, fuse_config* config) {
  // An unlinked open file is dropped, never renamed to a hidden name the account would see.
  config->hard_remove = 1;
  mount_fs* fs = self();
  // The kernel keeps names, attributes and absent names as long as the mount keeps its listings
  // (a name that is absent there is absent here too until the listing is asked for again).
  config->entry_timeout = fs->cache_seconds();
  config->attr_timeout = fs->cache_seconds();
  config->negative_timeout = fs->cache_seconds();
  // Every listing carries the attributes (readdirplus), not only its first part: ls -l then
  // makes no lookup per name.
  connection->want &= ~static_cast<unsigned>(FUSE_CAP_READDIRPLUS_AUTO);
  if ((connection->capable & FUSE_CAP_ATOMIC_O_TRUNC) != 0) {
    connection->want |= FUSE_CAP_ATOMIC_O_TRUNC;
  }
  fs->start();
  return fs;
}

int op_getattr(const char* path, struct stat* st, fuse_file_info*) {
  return -guarded([&] { return self()->getattr(path, st); });
}

int op_readdir(const char* path, void* buffer, fuse_fill_dir_t fill, off_t, fuse_file_info*,
               fuse_readdir_flags flags) {
  std::vector<listed_name> names;
  if (const int error = guarded([&] { return self()->readdir(path, names); })) return -error;
  const bool plus = (flags & FUSE_READDIR_PLUS) != 0;
  fill(buffer, ".", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  fill(buffer, "..", nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
  for (const listed_name& name : names) {
    if (plus && name.has_attributes) {
      fill(buffer, name.name.c_str(), &name.attributes, 0, FUSE_FILL_DIR_PLUS);
    } else {
      fill(buffer, name.name.c_str(), nullptr, 0, static_cast<fuse_fill_dir_flags>(0));
    }
  }
  return 0;
}

int op_open(const char* path, fuse_file_info* fi) {
  std::uint64_t handle = 0;
  const int error =
      guarded([&] { return self()->open(path, (fi->flags & O_TRUNC) != 0, handle); });
  fi->fh = handle;
  fi->direct_io = 1;
  return -error;
}

int op_create(const char* path, mode_t, fuse_file_info* fi) {
  std::uint64_t handle = 0;
  const int error =
      guarded([&] { return self()->create(path, fuse_get_context()->pid, handle); });
  fi->fh = handle;
  fi->direct_io = 1;
  return -error;
}

int op_read(const char*, char* out, std::size_t size, off_t offset, fuse_file_info* fi) {
  return guarded_count([&] { return self()->read(fi->fh, out, size, offset); });
}

int op_write(const char*, const char* data, std::size_t size, off_t offset, fuse_file_info* fi) {
  return guarded_count([&] { return self()->write(fi->fh, data, size, offset); });
}

int op_truncate(const char* path, off_t size, fuse_file_info* fi) {
  const std::optional<std::uint64_t> handle =
      fi ? std::optional<std::uint64_t>(fi->fh) : std::nullopt;
  return -guarded([&] { return self()->truncate(path ? path : "", handle, size); });
}

int op_flush(const char*, fuse_file_info* fi) {
  return -guarded([&] { return self()->flush(fi->fh); });
}
int op_fsync(const char*, int, fuse_file_info* fi) {
  return -guarded([&] { return self()->flush(fi->fh); });
}
int op_release(const char*, fuse_file_info* fi) {
  return -guarded([&] { return self()->release(fi->fh); });
}
int op_unlink(const char* path) { return -guarded([&] { return self()->unlink(path); }); }
int op_rename(const char* from, const char* to, unsigned int flags) {
  return -guarded([&] { return self()->rename(from, to, flags); });
}
int op_symlink(const char* target, const char* path) {
  return -guarded([&] { return self()->symlink(target, path, fuse_get_context()->pid); });
}
int op_readlink(const char* path, char* out, std::size_t size) {
  std::string target;
  if (const int error = guarded([&] { return self()->readlink(path, target); })) return -error;
  if (size == 0) return -EINVAL;
  const std::size_t count = std::min(size - 1, target.size());
  std::memcpy(out, target.data(), count);
  out[count] = '\0';
  return 0;
}
int op_mkdir(const char*, mode_t) { return -EPERM; }
int op_rmdir(const char*) { return -EPERM; }
int op_chmod(const char*, mode_t, fuse_file_info*) { return 0; }
int op_chown(const char*, uid_t, gid_t, fuse_file_info*) { return 0; }
int op_utimens(const char* path, const timespec* times, fuse_file_info*) {
  // times[1] is the modification time; the access time is not kept.
  std::optional<std::int64_t> nanoseconds;
  if (times == nullptr || times[1].tv_nsec == UTIME_NOW) {
    nanoseconds = now_nanoseconds();
  } else if (times[1].tv_nsec != UTIME_OMIT) {
    nanoseconds = static_cast<std::int64_t>(times[1].tv_sec) * 1000000000 + times[1].tv_nsec;
  }
  return -guarded([&] { return self()->utimens(path, nanoseconds); });
}
void op_destroy(void* data) { static_cast<mount_fs*>(data)->stop(); }

fuse_operations make_operations() {
  fuse_operations ops{};
  ops.init = op_init;
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
  ops.symlink = op_symlink;
  ops.readlink = op_readlink;
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
