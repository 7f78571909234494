#include "http/memory_budget.h"

#include <cstdint>
#include <cstdlib>

#include "platform/memory.h"

namespace ombrix {

std::optional<memory_budget::lease> memory_budget::take(std::size_t bytes,
                                                        std::chrono::milliseconds wait) {
  if (!grow(0, bytes, wait)) return std::nullopt;
  return lease(this, bytes);
}

memory_budget::lease memory_budget::take_now(std::size_t bytes) {
  const std::lock_guard lock(mutex_);
  held_ += bytes;
  return lease(this, bytes);
}

bool memory_budget::grow(std::size_t own, std::size_t bytes, std::chrono::milliseconds wait) {
  std::unique_lock lock(mutex_);
  if (!freed_.wait_for(lock, wait, [&] { return fits(own, bytes); })) return false;
  held_ += bytes;
  return true;
}

bool memory_budget::lease::grow(std::size_t bytes, std::chrono::milliseconds wait) {
  if (budget_ == nullptr || !budget_->grow(bytes_, bytes, wait)) return false;
  bytes_ += bytes;
  return true;
}

std::size_t memory_budget::held() const {
  const std::lock_guard lock(mutex_);
  return held_;
}

void memory_budget::give_back(std::size_t bytes) {
  {
    const std::lock_guard lock(mutex_);
    held_ -= bytes;
  }
  freed_.notify_all();
}

std::size_t default_budget_bytes(const char* configured_megabytes) {
  constexpr std::uint64_t mebibyte = 1024 * 1024;
  if (const char* setting = configured_megabytes) {
    const long long megabytes = std::atoll(setting);
    if (megabytes > 0) return static_cast<std::size_t>(megabytes * mebibyte);
  }
  const std::uint64_t physical = platform::physical_memory_bytes();
  return static_cast<std::size_t>(physical == 0 ? 1024 * mebibyte : physical / 2);
}

}  // namespace ombrix
