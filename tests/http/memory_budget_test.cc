#include "http/memory_budget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

namespace ombrix {
namespace {

using namespace std::chrono_literals;

// A request larger than the whole budget is served alone: taken when nothing else is held.
TEST(memory_budget_test, TakesUpToTheLimitGivesBackOnReleaseAndServesAHugeRequestAlone) {
  memory_budget budget(100);
  std::optional<memory_budget::lease> first = budget.take(60, 0ms), second = budget.take(40, 0ms);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(budget.held(), 100u);
  EXPECT_FALSE(budget.take(1, 10ms));  // spent: refused after the wait
  first.reset();
  EXPECT_EQ(budget.held(), 40u);
  EXPECT_TRUE(budget.take(60, 0ms));
  EXPECT_EQ(budget.held(), 40u);  // that lease ended with its statement
  EXPECT_FALSE(budget.take(500, 0ms));
  second.reset();
  {
    std::optional<memory_budget::lease> huge = budget.take(500, 0ms);
    ASSERT_TRUE(huge);
    EXPECT_FALSE(budget.take(1, 0ms));
  }
  EXPECT_EQ(budget.held(), 0u);
}

TEST(memory_budget_test, AWaitingRequestProceedsWhenBytesAreGivenBack) {
  memory_budget budget(100);
  std::optional<memory_budget::lease> held = budget.take(100, 0ms);
  ASSERT_TRUE(held);
  std::thread releaser([&] { std::this_thread::sleep_for(20ms), held.reset(); });
  EXPECT_TRUE(budget.take(50, 10s));  // woken by the release, long before the wait ends
  releaser.join();
  EXPECT_EQ(budget.held(), 0u);
}

TEST(memory_budget_test, ALeaseGrowsWithinTheLimitOrAloneAndTakeNowNeverWaits) {
  memory_budget budget(100);
  memory_budget::lease body = budget.empty_lease();
  EXPECT_TRUE(body.grow(60, 0ms));
  EXPECT_TRUE(body.grow(300, 0ms));  // the only holder: may grow past the limit
  EXPECT_EQ(body.bytes(), 360u);
  {
    memory_budget::lease reply = budget.take_now(10);  // held even beyond the limit
    EXPECT_EQ(budget.held(), 370u);
    EXPECT_FALSE(body.grow(1, 10ms));  // no longer alone, and keeps what it held
    EXPECT_EQ(body.bytes(), 360u);
  }
  body = budget.empty_lease();
  EXPECT_EQ(budget.held(), 0u);
  memory_budget::lease first = budget.empty_lease(), second = budget.empty_lease();
  EXPECT_TRUE(first.grow(50, 0ms) && second.grow(50, 0ms));
  EXPECT_FALSE(first.grow(1, 0ms));
}

}  // namespace
}  // namespace ombrix
