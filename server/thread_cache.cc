#include "server/thread_cache.h"

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
    : start_thread_(start_thread), max_idle_(max_idle), idle_time_(idle_time) {}

thread_cache::~thread_cache() {
  std::unique_lock lock(mutex_);
  stopping_ = true;
  wake_.notify_all();
  ended_.wait(lock, [this] { return threads_ == 0; });
}

int thread_cache::start(void (*entry)(void*), void* argument) {
  {
    const std::lock_guard lock(mutex_);
    if (idle_ > tasks_.size()) {
      tasks_.push_back({entry, argument});
      wake_.notify_one();
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
    if (idle_ >= max_idle_ || stopping_) break;
    ++idle_;
    const bool woken = wake_.wait_for(lock, idle_time_,
                                      [this] { return !tasks_.empty() || stopping_; });
    --idle_;
    if (!woken || tasks_.empty()) break;
    next = tasks_.front();
    tasks_.pop_front();
    lock.unlock();
  }
  // Still under the lock (every break above holds it): the count drops as the thread leaves.
  --threads_;
  ended_.notify_all();
}

std::size_t thread_cache::idle_count() const {
  const std::lock_guard lock(mutex_);
  return idle_;
}

std::size_t thread_cache::thread_count() const {
  const std::lock_guard lock(mutex_);
  return threads_;
}

thread_cache& process_thread_cache() {
  static thread_cache* const cache =
      new thread_cache(platform::start_detached_thread, 64, std::chrono::seconds(10));
  return *cache;
}

int start_cached_thread(void (*entry)(void*), void* argument) {
  return process_thread_cache().start(entry, argument);
}

}  // namespace ombrix
