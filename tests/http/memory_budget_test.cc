#include "http/memory_budget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <thread>

namespace ombrix {
namespace {

using namespace std::chrono_literals;

// A request larger than the whole budget is served alone: taken when nothing else is held. A
// waiting request is woken when bytes are given back, long before its wait ends.
TEST(memory_budget_test, TakesUpToTheLimitGivesBackOnReleaseAndServesAHugeRequestAlone) {
  memory_budget budget(100);
  std::optional<memory_budget::lease> first = budget.take(60, 0ms), second = budget.take(40, 0ms);
  ASSERT_TRUE(first && second);
  EXPECT_EQ(budget.held(), 100u);
  EXPECT_FALSE(budget.take(1, 10ms));  // spent: refused after the wait
  std::thread releaser([&] { std::this_thread::sleep_for(20ms), first.reset(); });
  EXPECT_TRUE(budget.take(60, 10s));
  releaser.join();
  EXPECT_EQ(budget.held(), 40u);  // that lease ended with its statement
  EXPECT_FALSE(budget.take(500, 0ms));
  second.reset();
  std::optional<memory_budget::lease> huge = budget.take(500, 0ms);
  ASSERT_TRUE(huge);
  EXPECT_FALSE(budget.take(1, 0ms));
  huge.reset();
  EXPECT_EQ(budget.held(), 0u);
}

TEST(memory_budget_test, ALeaseGrowsWithinTheLimitOrAloneAndTakeNowNeverWaits) {
  memory_budget budget(100);
  memory_budget::lease body = budget.empty_lease();
  EXPECT_TRUE(body.grow(60, 0ms));
  EXPECT_TRUE(body.grow(300, 0ms));  // the only holder: may grow past the limit
  {
    memory_budget::lease reply = budget.take_now(10);  // held even beyond the limit
    EXPECT_EQ(budget.held(), 370u);
    EXPECT_FALSE(body.grow(1, 10ms));  // no longer alone, and keeps what it held
    EXPECT_EQ(body.bytes(), 360u);
  }
  body = budget.empty_lease();
  memory_budget::lease other = budget.empty_lease();
  EXPECT_TRUE(body.grow(50, 0ms) && other.grow(50, 0ms));
  EXPECT_FALSE(body.grow(1, 0ms));
}

}  // namespace
}  // namespace ombrix
