// The SQLite connections of one account database: idle ones are kept (with their prepared
// statements) for the next call, each call borrows one for its own duration, and work that finds
// the database locked by another process is retried until a time limit. Thread-safe.
//
// Failures leave as _com_error 206 ("Storage failure in account 'A': ...").
//
//   connection_pool pool(path, u"SALES", {});
//   int n = pool.run(false, [](sqlite_connection& c) { return count_items(c); });
#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/embedded/sqlite_db.h"
#include "platform/seam.h"
#include "host/text.h"

namespace ombrix {

class connection_pool {
 public:
  using clock = std::chrono::steady_clock;

  struct options {
    // Idle connections kept; one given back to a full pool is closed, so a burst of concurrent
    // calls leaves no surplus of open database descriptors behind.
    std::size_t max_idle = 8;
    // How long busy work is retried before it fails with 206.
    std::chrono::milliseconds busy_limit{30000};
    // SQLite's own wait for another connection's lock, per attempt.
    int busy_timeout_milliseconds = 5000;
    // The clock (calls.now) and the pause between attempts (calls.sleep); the real ones
    // when the member is empty. The seam's other members are not used.
    platform::seam calls;
  };

  // Opens no connection yet. `account` names the account in failure descriptions.
  connection_pool(std::string path, text account, options settings);
  connection_pool(const connection_pool&) = delete;
  connection_pool& operator=(const connection_pool&) = delete;

  // Runs body(connection) with a borrowed connection and returns its result; a writer (`write`)
  // runs under the pool's writer mutex, so this process's writers queue without polling SQLite's
  // lock. A busy failure is retried with pauses from 1 to 50 ms until busy_limit; any other
  // sqlite_failure closes the connection and becomes 206. Other exceptions of body pass through.
  template <typename Body>
  auto run(bool write, Body&& body);

  // Idle connections now held.
  std::size_t idle_count();

 private:
  class lease;

  std::unique_ptr<sqlite_connection> borrow();
  void give_back(std::unique_ptr<sqlite_connection> connection);
  clock::time_point now() const;
  void pause(std::chrono::milliseconds duration) const;
  [[noreturn]] void storage_failure(const std::string& what) const;

  const std::string path_;
  const text account_;
  const options options_;

  std::mutex pool_mutex_;
  std::vector<std::unique_ptr<sqlite_connection>> idle_;  // guarded by pool_mutex_
  std::mutex write_mutex_;
};

// A connection borrowed for one call: given back when the call ends, unless it was discarded
// after a failure that may have left it unusable.
class connection_pool::lease {
 public:
  explicit lease(connection_pool& pool) : pool_(pool) {}
  ~lease() {
    if (connection_) pool_.give_back(std::move(connection_));
  }
  lease(const lease&) = delete;
  lease& operator=(const lease&) = delete;

  sqlite_connection& acquire() {
    connection_ = pool_.borrow();
    return *connection_;
  }
  void discard() { connection_.reset(); }

 private:
  connection_pool& pool_;
  std::unique_ptr<sqlite_connection> connection_;
};

template <typename Body>
auto connection_pool::run(bool write, Body&& body) {
  const clock::time_point deadline = now() + options_.busy_limit;
  auto wait = std::chrono::milliseconds(1);
  for (;;) {
    {
      std::unique_lock<std::mutex> writer(write_mutex_, std::defer_lock);
      if (write) writer.lock();
      lease borrowed(*this);
      try {
        return body(borrowed.acquire());
      } catch (const sqlite_failure& failure) {
        if (!failure.busy()) {
          borrowed.discard();
          storage_failure(failure.what());
        }
        if (now() >= deadline) {
          storage_failure("the database stayed locked by another process; try again later");
        }
      }
    }
    // Only another process can hold the lock this long (SQLite's busy time-out has passed).
    pause(wait);
    wait = std::min(wait * 2, std::chrono::milliseconds(50));
  }
}

}  // namespace ombrix
