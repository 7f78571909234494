// A table of shared objects by key, each made once on first use: the embedded host keeps its
// account stores in one such table for the whole process, so that their pooled connections and
// prepared statements outlive the host objects of single requests. The table is bounded: an
// object no one else holds is closed once it has been idle for a while, and beyond a number of
// open objects the least recently used ones no one holds are closed first, so that touching
// thousands of accounts never holds thousands of databases open. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace ombrix {

template <typename Stored>
class store_registry {
 public:
  using clock = std::chrono::steady_clock;

  struct limits {
    // Objects kept open; more are open only while requests hold them.
    std::size_t max_open = 32;
    // An object no one has asked for this long, and no one holds, is closed.
    std::chrono::seconds idle{60};
    // The clock; steady_clock when empty.
    std::function<clock::time_point()> now;
  };

  store_registry() : store_registry(limits{}) {}
  explicit store_registry(limits bounds) : limits_(std::move(bounds)) {}
  store_registry(const store_registry&) = delete;
  store_registry& operator=(const store_registry&) = delete;

  // The object kept under `key`, or the one `make()` returns, kept from now on. `make` runs under
  // the table's lock, so two callers never both make one; when it throws, nothing is kept and
  // its exception passes through. Objects closed to keep the bounds are destroyed after the lock
  // is released.
  template <typename Make>
  std::shared_ptr<Stored> find_or_make(const std::string& key, Make&& make) {
    std::vector<std::shared_ptr<Stored>> closed;  // destroyed last, outside the lock
    std::lock_guard<std::mutex> lock(mutex_);
    const clock::time_point now = limits_.now ? limits_.now() : clock::now();
    if (now - last_sweep_ >= sweep_interval) {
      last_sweep_ = now;
      close_idle(now, closed);
    }
    if (auto found = stored_.find(key); found != stored_.end()) {
      found->second.last_used = now;
      return found->second.object;
    }
    std::shared_ptr<Stored> made = make();
    stored_.emplace(key, entry{made, now});
    close_least_recently_used(closed);
    return made;
  }

  // Forgets every object no one else holds; they are destroyed after the lock is released.
  void release_unused() {
    std::vector<std::shared_ptr<Stored>> unused;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = stored_.begin(); it != stored_.end();) {
      if (it->second.object.use_count() == 1) {
        unused.push_back(std::move(it->second.object));
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
  struct entry {
    std::shared_ptr<Stored> object;
    clock::time_point last_used;
  };

  // REQUIRES: mutex_ held.
  void close_idle(clock::time_point now, std::vector<std::shared_ptr<Stored>>& closed) {
    for (auto it = stored_.begin(); it != stored_.end();) {
      if (it->second.object.use_count() == 1 && now - it->second.last_used >= limits_.idle) {
        closed.push_back(std::move(it->second.object));
        it = stored_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // REQUIRES: mutex_ held.
  void close_least_recently_used(std::vector<std::shared_ptr<Stored>>& closed) {
    while (stored_.size() > limits_.max_open) {
      auto oldest = stored_.end();
      for (auto it = stored_.begin(); it != stored_.end(); ++it) {
        if (it->second.object.use_count() != 1) continue;  // in use: stays open
        if (oldest == stored_.end() || it->second.last_used < oldest->second.last_used) {
          oldest = it;
        }
      }
      if (oldest == stored_.end()) return;  // every object is in use
      closed.push_back(std::move(oldest->second.object));
      stored_.erase(oldest);
    }
  }

  // Idle objects are looked for at most this often: the table is asked on every request.
  static constexpr std::chrono::seconds sweep_interval{1};

  const limits limits_;
  std::mutex mutex_;
  clock::time_point last_sweep_{};                 // guarded by mutex_
  std::map<std::string, entry> stored_;  // guarded by mutex_
};

}  // namespace ombrix
