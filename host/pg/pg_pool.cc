#include "host/pg/pg_pool.h"

#include <utility>

#include "host/host_errors.h"
#include "host/pg/pg_schema.h"

namespace ombrix {
namespace {

// "30 s", or "250 ms" for a bound that is not whole seconds.
std::string duration_text(std::chrono::milliseconds bound) {
  const auto count = bound.count();
  return count % 1000 == 0 ? std::to_string(count / 1000) + " s" : std::to_string(count) + " ms";
}

}  // namespace

pg_pool::pg_pool(std::string conninfo, options settings)
    : conninfo_(std::move(conninfo)), options_(settings) {}

platform::seam::clock::time_point pg_pool::now() const {
  return platform::now_of(options_.calls);
}

std::unique_ptr<pg_connection> pg_pool::connect_now() const {
  return std::make_unique<pg_connection>(conninfo_,
                                         pg_session_settings(static_cast<long>(options_.lock_wait.count())));
}

pg_pool::lease pg_pool::borrow(const text& account) {
  std::unique_lock<std::mutex> lock(mutex_);
  const auto deadline = now() + options_.borrow_wait;
  for (;;) {
    while (!idle_.empty()) {
      lease taken = std::move(idle_.back());
      idle_.pop_back();
      if (taken.epoch == epoch_) {
        taken.reused = true;
        return taken;
      }
      --open_;  // from before a lost connection: closed outside the lock
      lock.unlock();
      taken.connection.reset();
      lock.lock();
    }
    if (open_ < options_.max_connections) break;
    const auto left = deadline - now();
    if (left <= platform::seam::clock::duration::zero() ||
        freed_.wait_for(lock, left) == std::cv_status::timeout) {
      if (idle_.empty() && open_ >= options_.max_connections) {
        throw_host_error(host_error::storage_failure,
                         describe({u"Storage failure in account '", account,
                                   u"': no database connection came free within ",
                                   from_utf8(duration_text(options_.borrow_wait)), u"."}));
      }
    }
  }
  ++open_;
  const std::uint64_t epoch = epoch_;
  lock.unlock();
  try {
    return lease{connect_now(), epoch, false};
  } catch (const pg_failure& failure) {
    lock.lock();
    --open_;
    freed_.notify_one();
    lock.unlock();
    storage_failure(account, failure);
  }
}

void pg_pool::give_back(lease& borrowed) {
  if (!borrowed.connection) return;
  std::unique_ptr<pg_connection> closing;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (borrowed.connection->broken() || borrowed.epoch != epoch_) {
      closing = std::move(borrowed.connection);
      --open_;
    } else {
      idle_.push_back(std::move(borrowed));
    }
    borrowed.connection.reset();
  }
  freed_.notify_one();
}

bool pg_pool::retry(const pg_failure& failure, bool lost, bool repeatable, bool reused,
                    int attempt) {
  if (lost) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++epoch_;
    }
    // A pooled connection found dead: the server went away since it was last used. Once more
    // on a new one, where running twice does no harm.
    return repeatable && reused;
  }
  if ((failure.retryable() || failure.unique_violation()) && attempt < options_.max_attempts) {
    platform::sleep_of(options_.calls, std::chrono::milliseconds(attempt));
    return true;
  }
  return false;
}

void pg_pool::storage_failure(const text& account, const pg_failure& failure) const {
  std::string what = failure.what();
  if (failure.sqlstate() == "55P03") {
    what = "another transaction held a lock for longer than " + duration_text(options_.lock_wait) +
           " (" + what + ")";
  }
  throw_host_error(host_error::storage_failure,
                   describe({u"Storage failure in account '", account, u"': ",
                             from_utf8_lenient(what), u"."}));
}

std::size_t pg_pool::open_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return open_;
}

std::size_t pg_pool::idle_count() {
  std::lock_guard<std::mutex> lock(mutex_);
  return idle_.size();
}

}  // namespace ombrix
