#include "server/thread_cache.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/thread.h"

namespace ombrix {
namespace {

using namespace std::chrono_literals;

std::atomic<int> threads_started{0};

int counting_starter(void (*entry)(void*), void* argument) { return ++threads_started, platform::start_detached_thread(entry, argument); }
int failing_starter(void (*)(void*), void*) { return 11; }

// A task that counts its runs and can be held until the test lets it go.
struct gate {
  std::mutex mutex;
  std::condition_variable changed;
  int runs = 0;
  bool open = true;

  static void run(void* argument) {
    auto* self = static_cast<gate*>(argument);
    std::unique_lock lock(self->mutex);
    ++self->runs, self->changed.notify_all();
    self->changed.wait(lock, [self] { return self->open; });
  }
  void wait_for_runs(int count) { std::unique_lock lock(mutex); changed.wait(lock, [&] { return runs >= count; }); }
  void release() { const std::lock_guard lock(mutex); open = true, changed.notify_all(); }
};

template <typename Condition>
void eventually(Condition condition) {
  for (int i = 0; i < 2000 && !condition(); ++i) std::this_thread::sleep_for(1ms);
  EXPECT_TRUE(condition());
}

// A finished thread serves the next task; busy threads are never waited for, and idle ones are
// bounded.
TEST(thread_cache_test, AFinishedThreadServesTheNextTaskAndBusyOnesAreNeverWaitedFor) {
  threads_started = 0;
  thread_cache cache(counting_starter, 2, 10s);
  gate task;
  for (int i = 1; i <= 20; ++i) {
    ASSERT_EQ(cache.start(gate::run, &task), 0);
    task.wait_for_runs(i);
    eventually([&] { return cache.idle_count() == 1; });
  }
  EXPECT_EQ(threads_started, 1);
  EXPECT_EQ(cache.thread_count(), 1u);
  task.open = false;
  for (int i = 0; i < 5; ++i) ASSERT_EQ(cache.start(gate::run, &task), 0);
  task.wait_for_runs(25);  // all five run at once: none waited for another
  EXPECT_EQ(threads_started, 5);
  task.release();
  eventually([&] { return cache.thread_count() == 2 && cache.idle_count() == 2; });
  thread_cache failing(failing_starter, 4, 10s);  // a failed start counts no thread
  EXPECT_EQ(failing.start(gate::run, &task), 11);
  EXPECT_EQ(failing.thread_count(), 0u);
}

// Hand-offs racing with idle time-outs (1 ms) and with threads that end because the idle bound is
// reached: every task runs exactly once.
TEST(thread_cache_test, EveryTaskRunsOnceWhileHandOffsRaceWithTimeOuts) {
  std::atomic<int> runs{0};
  constexpr int starters = 4, tasks_each = 1500;
  thread_cache cache(platform::start_detached_thread, 3, 1ms);
  std::vector<std::thread> callers;
  for (int s = 0; s < starters; ++s) {
    callers.emplace_back([&] {
      for (int i = 0; i < tasks_each; ++i) {
        ASSERT_EQ(cache.start([](void* counter) { ++*static_cast<std::atomic<int>*>(counter); }, &runs), 0);
        if (i % 64 == 0) std::this_thread::sleep_for(2ms);  // let idle threads time out
      }
    });
  }
  for (std::thread& caller : callers) caller.join();
  eventually([&] { return runs.load() == starters * tasks_each; });
  EXPECT_LE(cache.idle_count(), 3u);
}

}  // namespace
}  // namespace ombrix
