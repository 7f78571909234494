#include "server/thread_cache.h"

#include <algorithm>
#include <cerrno>
#include <new>

#include "platform/thread.h"
#include <utility>

namespace ombrix {

namespace {

struct first_task {
  class thread_cache* cache;
  void (*entry)(void*);
  void* argument;
};

}  // namespace

thread_cache::thread_cache(thread_starter start_thread, std::size_t max_idle,
                           std::chrono::milliseconds idle_time)
    : start_thread_(start_thread),
      idle_time_(idle_time),
      slots_(std::make_unique<idle_slot[]>(max_idle)) {
  idle_.reserve(max_idle);
  free_.reserve(max_idle);
  for (std::size_t i = 0; i < max_idle; ++i) free_.push_back(&slots_[i]);
}

thread_cache::~thread_cache() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  for (idle_slot* slot : idle_) slot->wake.notify_one();
  ended_.wait(lock, [this] { return threads_ == 0; });
}

int thread_cache::start(void (*entry)(void*), void* argument) {
  {
    std::unique_lock lock(mutex_);
    if (!idle_.empty()) {
      idle_slot* const slot = idle_.back();
      idle_.pop_back();
      slot->next = {entry, argument};
      slot->has_task = true;
      lock.unlock();
      // Outside the lock, so that the woken thread does not at once wait for it.
      slot->wake.notify_one();
      return 0;
    }
    ++threads_;
  }
  auto* first = new (std::nothrow) first_task{this, entry, argument};
  const int error = first == nullptr ? ENOMEM : start_thread_(worker_main, first);
  if (error != 0) {
    delete first;
    const std::lock_guard lock(mutex_);
    --threads_;
    ended_.notify_all();
  }
  return error;
}

void thread_cache::worker_main(void* argument) noexcept {
  const first_task first = *static_cast<first_task*>(argument);
  delete static_cast<first_task*>(argument);
  first.cache->work({first.entry, first.argument});
}

void thread_cache::work(task next) noexcept {
  std::unique_lock lock(mutex_, std::defer_lock);
  while (true) {
    next.entry(next.argument);  // the entry catches its own failures
    lock.lock();
    if (free_.empty() || stopping_) break;
    idle_slot* const slot = free_.back();
    free_.pop_back();
    idle_.push_back(slot);
    slot->wake.wait_for(lock, idle_time_, [&] { return slot->has_task || stopping_; });
    const bool given = slot->has_task;
    slot->has_task = false;
    if (!given) idle_.erase(std::find(idle_.begin(), idle_.end(), slot));
    free_.push_back(slot);
    if (!given) break;
    next = slot->next;
    lock.unlock();
  }
  // Still under the lock (every break above holds it): the count drops as the thread leaves.
  --threads_;
  ended_.notify_all();
}

std::size_t thread_cache::idle_count() const {
  const std::lock_guard lock(mutex_);
  return idle_.size();
}

std::size_t thread_cache::thread_count() const {
  const std::lock_guard lock(mutex_);
  return threads_;
}

}  // namespace ombrix
