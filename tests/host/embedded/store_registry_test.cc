// The process-wide table of account stores, with plain values standing in for stores.
#include "host/embedded/store_registry.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace ombrix {
namespace {

TEST(StoreRegistry, MakesEachKeyOnceAndKeepsNothingWhenMakingFails) {
  store_registry<int> registry;
  int made = 0;
  const auto make = [&] {
    ++made;
    return std::make_shared<int>(made);
  };
  auto a = registry.find_or_make("a", make);
  EXPECT_EQ(registry.find_or_make("a", make), a);
  EXPECT_EQ(made, 1);
  EXPECT_THROW(registry.find_or_make("b", []() -> std::shared_ptr<int> {
    throw std::runtime_error("cannot open");
  }),
               std::runtime_error);
  EXPECT_EQ(registry.size(), 1u);
  EXPECT_EQ(*registry.find_or_make("b", make), 2);
}

TEST(StoreRegistry, ReleasesOnlyWhatNoOneHolds) {
  store_registry<int> registry;
  auto held = registry.find_or_make("held", [] { return std::make_shared<int>(1); });
  registry.find_or_make("loose", [] { return std::make_shared<int>(2); });
  registry.release_unused();
  EXPECT_EQ(registry.size(), 1u);
  EXPECT_EQ(registry.find_or_make("held", [] { return std::make_shared<int>(3); }), held);
}

}  // namespace
}  // namespace ombrix
