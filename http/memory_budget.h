// The process-wide budget for the bytes that requests hold while they are served. A request
// charges its body piece by piece as the bytes arrive, and its reply while the reply is held and
// sent, and gives everything back when it ends; when the budget is spent, a request waits briefly
// for others to finish and is then refused (503), instead of the process growing until the
// machine runs out of memory. Thread-safe.
//
//   memory_budget::lease held = budget.empty_lease();
//   if (!held.grow(cost_of_next_piece, std::chrono::seconds(2))) ... answer 503 ...
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

    // Adds `bytes` to what the lease holds, waiting at most `wait` for them to become free. A
    // lease that is the only one holding anything may grow past the limit, as take lets a
    // request larger than the budget in alone. False when the bytes did not become free in time;
    // the lease then keeps what it held.
    bool grow(std::size_t bytes, std::chrono::milliseconds wait);
    std::size_t bytes() const { return bytes_; }

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
  // A lease of nothing, to grow as bytes come.
  lease empty_lease() { return lease(this, 0); }
  // Takes `bytes` at once, even beyond the limit: for what must be held anyway (a small reply
  // whose request has already changed the data). Later requests then wait for it.
  lease take_now(std::size_t bytes);

  std::size_t limit() const { return limit_; }
  std::size_t held() const;

 private:
  void give_back(std::size_t bytes);
  // Whether `bytes` more fit for a holder of `own` bytes: they stay within the limit, or nobody
  // else holds anything.
  bool fits(std::size_t own, std::size_t bytes) const {
    return held_ == own || held_ + bytes <= limit_;
  }
  bool grow(std::size_t own, std::size_t bytes, std::chrono::milliseconds wait);

  const std::size_t limit_;
  mutable std::mutex mutex_;
  std::condition_variable freed_;
  std::size_t held_ = 0;  // guarded by mutex_
};

// The limit of the running server's budget: `configured_megabytes` MiB when that text (the
// value of OMBRIX_MEMORY_BUDGET_MB, which main reads; null when unset) is a positive number,
// else half the machine's memory (1 GiB when it cannot be found out).
std::size_t default_budget_bytes(const char* configured_megabytes);

}  // namespace ombrix
