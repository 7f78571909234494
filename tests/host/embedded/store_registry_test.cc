// The table of account stores, with plain values standing in for stores.
#include "host/embedded/store_registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace ombrix {
namespace {

std::shared_ptr<int> value(int v) { return std::make_shared<int>(v); }

// Every account once opened stayed open for good (3 descriptors and some 150 KiB each): 2,000
// accounts touched by logins exhausted the descriptors and took the default account down too.
TEST(StoreRegistry, KeepsAtMostTheBoundClosingTheLeastRecentlyUsedAndTheIdleThatNoOneHolds) {
  std::chrono::steady_clock::time_point now{};
  platform::seam calls;
  calls.now = [&] { return now; };
  store_registry<int> registry({3, std::chrono::seconds(60), calls});
  std::vector<std::weak_ptr<int>> made;
  const auto open = [&](const std::string& key) {
    now += std::chrono::milliseconds(1);
    return registry.find_or_make(key, [&] {
      auto object = value(static_cast<int>(made.size()));
      made.push_back(object);
      return object;
    });
  };
  auto held = open("held");  // the oldest, but in use
  EXPECT_THROW(registry.find_or_make("bad", []() -> std::shared_ptr<int> { throw std::runtime_error("cannot open"); }), std::runtime_error);
  EXPECT_EQ(registry.size(), 1u) << "a failed make keeps nothing";
  open("a");
  open("b");
  open("a");  // a is now more recent than b
  open("c");  // one too many: b, the least recently used that no one holds, is closed
  EXPECT_EQ(registry.size(), 3u);
  EXPECT_TRUE(made[2].expired());  // b
  EXPECT_FALSE(made[1].expired());  // a
  EXPECT_EQ(open("held"), held);
  open("b");  // made again
  EXPECT_EQ(made.size(), 5u);
  for (int i = 0; i < 10; ++i) {
    std::string key = "x";  // built in steps: "x" + to_string trips a false -Wrestrict in g++ 12
    key += std::to_string(i);
    open(key);
  }
  EXPECT_EQ(registry.size(), 3u);
  EXPECT_EQ(open("held"), held);  // never closed while held
  // What has been idle for the limit is closed at the next open.
  std::weak_ptr<int> idle = open("idle");
  now += std::chrono::seconds(59);
  open("other");
  EXPECT_FALSE(idle.expired());
  now += std::chrono::seconds(2);
  open("other");
  EXPECT_TRUE(idle.expired());
  EXPECT_EQ(registry.size(), 2u);  // held and other
  EXPECT_EQ(open("held"), held);
}

// Callers of one key wait for its one make instead of making their own.
TEST(StoreRegistry, ConcurrentCallersOfOneKeyShareItsOneMake) {
  store_registry<int> registry;
  std::atomic<int> made{0};
  std::vector<std::shared_ptr<int>> got(4);
  {
    std::vector<std::jthread> callers;
    const auto slow = [&] { return std::this_thread::sleep_for(std::chrono::milliseconds(20)), value(++made); };
    for (int i = 0; i < 4; ++i) callers.emplace_back([&, i] { got[i] = registry.find_or_make("c", slow); });
  }
  EXPECT_EQ(made.load(), 1);
  for (const auto& one : got) EXPECT_EQ(one, got[0]);
}

}  // namespace
}  // namespace ombrix
