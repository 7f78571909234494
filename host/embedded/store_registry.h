// A table of shared objects by key, each made once on first use: the embedded host keeps its
// account stores in one such table (account_stores, owned by the process's host store), so that
// their pooled connections and prepared statements outlive the host objects of single requests.
// The table is bounded: an object no one else holds is closed once it has been idle for a while,
// and beyond a number of open objects the least recently used ones no one holds are closed
// first, so that touching thousands of accounts never holds thousands of databases open.
// Thread-safe.
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

#include "platform/seam.h"

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
    // The clock (calls.now); steady_clock when empty. The seam's other members are not used.
    platform::seam calls;
  };

  store_registry() : store_registry(limits{}) {}
  explicit store_registry(limits bounds) : limits_(std::move(bounds)) {}
  store_registry(const store_registry&) = delete;
  store_registry& operator=(const store_registry&) = delete;

  // The object kept under `key`, or the one `make()` returns, kept from now on. Two callers
  // never both make one key: a caller waits while another makes the object of its key, but
  // objects of other keys are made at the same time, and the table's lock is never held while
  // `make` runs. When `make` throws, nothing is kept and its exception passes through (a caller
  // that waited then makes the object itself). Objects closed to keep the bounds are destroyed
  // after the lock is released.
  template <typename Make>
  std::shared_ptr<Stored> find_or_make(const std::string& key, Make&& make) {
    std::vector<std::shared_ptr<Stored>> closed;  // destroyed last, outside the lock
    std::shared_ptr<slot> place;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      const clock::time_point now = platform::now_of(limits_.calls);
      if (now - last_sweep_ >= sweep_interval) {
        last_sweep_ = now;
        close_idle(now, closed);
      }
      std::shared_ptr<slot>& found = slots_[key];
      if (!found) found = std::make_shared<slot>();
      found->last_used = now;
      if (found->object) return found->object;
      place = found;
    }
    std::lock_guard<std::mutex> making(place->making);
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (place->object) return place->object;  // made by the caller this one waited for
    }
    std::shared_ptr<Stored> made;
    try {
      made = make();
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex_);
      forget_if_unused(key, place);
      throw;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    place->object = made;
    close_least_recently_used(closed);
    return made;
  }

  // Forgets every object no one else holds; they are destroyed after the lock is released.
  void release_unused() {
    std::vector<std::shared_ptr<Stored>> unused;
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto it = slots_.begin(); it != slots_.end();) {
      if (unused_slot(it->second)) {
        if (it->second->object) unused.push_back(std::move(it->second->object));
        it = slots_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // The objects kept.
  std::size_t size() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::size_t kept = 0;
    for (const auto& [key, place] : slots_) kept += place->object ? 1 : 0;
    return kept;
  }

 private:
  // One key's place in the table. The object and the time are guarded by the table's mutex_;
  // `making` is held by the one caller that makes the key's object.
  struct slot {
    std::mutex making;
    std::shared_ptr<Stored> object;
    clock::time_point last_used;
  };

  // Whether nobody but the table holds the slot (no caller is making or waiting for its
  // object) and nobody holds its object. REQUIRES: mutex_ held.
  static bool unused_slot(const std::shared_ptr<slot>& place) {
    return place.use_count() == 1 && (!place->object || place->object.use_count() == 1);
  }

  // After a failed make: drops the key's slot unless another caller waits for it.
  // REQUIRES: mutex_ held; `place` is the caller's own reference to the slot.
  void forget_if_unused(const std::string& key, const std::shared_ptr<slot>& place) {
    auto found = slots_.find(key);
    if (found != slots_.end() && found->second == place && !place->object &&
        place.use_count() == 2) {
      slots_.erase(found);
    }
  }

  // REQUIRES: mutex_ held.
  void close_idle(clock::time_point now, std::vector<std::shared_ptr<Stored>>& closed) {
    for (auto it = slots_.begin(); it != slots_.end();) {
      if (unused_slot(it->second) && now - it->second->last_used >= limits_.idle) {
        if (it->second->object) closed.push_back(std::move(it->second->object));
        it = slots_.erase(it);
      } else {
        ++it;
      }
    }
  }

  // REQUIRES: mutex_ held.
  void close_least_recently_used(std::vector<std::shared_ptr<Stored>>& closed) {
    std::size_t open = 0;
    for (const auto& [key, place] : slots_) open += place->object ? 1 : 0;
    while (open > limits_.max_open) {
      auto oldest = slots_.end();
      for (auto it = slots_.begin(); it != slots_.end(); ++it) {
        if (!it->second->object || !unused_slot(it->second)) continue;  // in use: stays open
        if (oldest == slots_.end() || it->second->last_used < oldest->second->last_used) {
          oldest = it;
        }
      }
      if (oldest == slots_.end()) return;  // every object is in use
      closed.push_back(std::move(oldest->second->object));
      slots_.erase(oldest);
      --open;
    }
  }

  // Idle objects are looked for at most this often: the table is asked on every request.
  static constexpr std::chrono::seconds sweep_interval{1};

  const limits limits_;
  std::mutex mutex_;
  clock::time_point last_sweep_{};                      // guarded by mutex_
  std::map<std::string, std::shared_ptr<slot>> slots_;  // guarded by mutex_
};

}  // namespace ombrix
