// A table of shared objects by key, each made once on first use: the embedded host keeps its
// account stores in one such table for the whole process, so that their pooled connections and
// prepared statements outlive the host objects of single requests. Thread-safe.
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace ombrix {

template <typename Stored>
class store_registry {
 public:
  // The object kept under `key`, or the one `make()` returns, kept from now on. `make` runs under
  // the table's lock, so two callers never both make one; when it throws, nothing is kept and
  // its exception passes through.
  template <typename Make>
  std::shared_ptr<Stored> find_or_make(const std::string& key, Make&& make) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (auto found = stored_.find(key); found != stored_.end()) return found->second;
    std::shared_ptr<Stored> made = make();
    stored_.emplace(key, made);
    return made;
  }

  // Forgets every object no one else holds; they are destroyed after the lock is released.
  void release_unused() {
    std::vector<std::shared_ptr<Stored>> unused;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = stored_.begin(); it != stored_.end();) {
      if (it->second.use_count() == 1) {
        unused.push_back(std::move(it->second));
        it = stored_.erase(it);
      } else {
        ++it;
      }
    }
  }

  std::size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    return stored_.size();
  }

 private:
  std::mutex mutex_;
  std::map<std::string, std::shared_ptr<Stored>> stored_;  // guarded by mutex_
};

}  // namespace ombrix
