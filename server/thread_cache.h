// A cache of idle threads: a finished connection thread waits a while for the next connection
// instead of ending, so that a busy server does not create a thread for every request. There is
// no limit on running threads (every connection still gets one of its own); only the idle ones
// are bounded, in number and in time. Thread-safe.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "server/connection_thread.h"

namespace ombrix {

class thread_cache {
 public:
  // `start_thread` starts the new threads; at most `max_idle` finished threads wait, each for at
  // most `idle_time`.
  thread_cache(thread_starter start_thread, std::size_t max_idle,
               std::chrono::milliseconds idle_time);
  // Wakes the idle threads and waits until every thread of the cache has ended.
  // REQUIRES: no task still running, and no start call in progress.
  ~thread_cache();
  thread_cache(const thread_cache&) = delete;
  thread_cache& operator=(const thread_cache&) = delete;

  // Runs entry(argument) on an idle thread, or on a new one. Returns 0, or the error of the
  // thread start (the caller then still owns `argument`), as thread_starter does.
  int start(void (*entry)(void*), void* argument);

  std::size_t idle_count() const;
  std::size_t thread_count() const;  // running and idle

 private:
  struct task {
    void (*entry)(void*);
    void* argument;
  };
  // Where one idle thread waits for its next task. Slots belong to the cache, not to the
  // threads, so that a wake-up given after the lock is released never reaches a slot that is
  // gone; at worst it reaches a slot another idle thread now waits in, which then waits on.
  struct idle_slot {
    std::condition_variable wake;
    task next{};
    bool has_task = false;
  };
  static void worker_main(void* cache) noexcept;
  void work(task first) noexcept;

  const thread_starter start_thread_;
  const std::chrono::milliseconds idle_time_;

  mutable std::mutex mutex_;
  std::condition_variable ended_;  // a thread ended
  const std::unique_ptr<idle_slot[]> slots_;  // one per thread that may idle
  // Guarded by mutex_. The idle threads' slots, the latest idle last: a new task goes to the
  // thread that idled last (its stack and caches are warm), and the longest idle ones are the
  // ones whose idle time runs out. free_ holds the other slots.
  std::vector<idle_slot*> idle_;
  std::vector<idle_slot*> free_;
  std::size_t threads_ = 0;
  bool stopping_ = false;
};

// The running server's cache keeps up to this many idle threads, each for this long.
inline constexpr std::size_t server_idle_threads = 64;
inline constexpr std::chrono::seconds server_thread_idle_time{10};

}  // namespace ombrix
