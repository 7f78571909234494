// The process-wide budget for the bytes that requests hold while they are served. A request
// takes its share before its body is read and gives it back when it ends; when the budget is
// spent, a request waits briefly for others to finish and is then refused (503), instead of the
// process growing until the machine runs out of memory. Thread-safe.
//
//   std::optional<memory_budget::lease> held = budget.take(cost, std::chrono::seconds(2));
//   if (!held) ... answer 503 ...
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <optional>

namespace ombrix {

class memory_budget {
 public:
  // Holds bytes of the budget until destroyed. Movable, not copyable.
  class lease {
   public:
    lease(lease&& other) noexcept : budget_(other.budget_), bytes_(other.bytes_) {
      other.budget_ = nullptr;
    }
    lease& operator=(lease&& other) noexcept {
      if (this != &other) {
        if (budget_ != nullptr) budget_->give_back(bytes_);
        budget_ = other.budget_;
        bytes_ = other.bytes_;
        other.budget_ = nullptr;
      }
      return *this;
    }
    lease(const lease&) = delete;
    lease& operator=(const lease&) = delete;
    ~lease() {
      if (budget_ != nullptr) budget_->give_back(bytes_);
    }

   private:
    friend class memory_budget;
    lease(memory_budget* budget, std::size_t bytes) : budget_(budget), bytes_(bytes) {}
    memory_budget* budget_;
    std::size_t bytes_;
  };

  explicit memory_budget(std::size_t limit) : limit_(limit) {}
  memory_budget(const memory_budget&) = delete;
  memory_budget& operator=(const memory_budget&) = delete;

  // Takes `bytes`, waiting at most `wait` for them to become free. A request larger than the
  // whole budget is let in only when nothing else is held, so it can still be served alone.
  // Returns nothing when the bytes did not become free in time.
  std::optional<lease> take(std::size_t bytes, std::chrono::milliseconds wait);

  std::size_t limit() const { return limit_; }
  std::size_t held() const;

 private:
  void give_back(std::size_t bytes);
  bool fits(std::size_t bytes) const { return held_ == 0 || held_ + bytes <= limit_; }

  const std::size_t limit_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  std::size_t held_ = 0;  // guarded by mutex_
};

// The budget of the running server: half the machine's memory (1 GiB when it cannot be found
// out), or OMBRIX_MEMORY_BUDGET_MB when that is set to a positive number.
memory_budget& process_memory_budget();

}  // namespace ombrix
