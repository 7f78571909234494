// The bounded pool of connections to one store's database. Thread-safe: any number of threads
// may call run at once; each call borrows one connection for its own duration.
//
// Failures leave as _com_error 206 ("Storage failure in account 'A': ..."): the database cannot
// be reached, a lock wait ran out (30 s), no connection came free within the wait bound.
// Serialization failures and deadlocks are retried; after a lost connection every idle one is
// dropped (a restarted or failed-over server leaves them all dead) and work that may safely run
// twice runs once more on a new connection.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <type_traits>
#include <vector>

#include "host/pg/pg_connection.h"
#include "host/text.h"
#include "platform/seam.h"

namespace ombrix {

class pg_pool {
 public:
  struct options {
    std::size_t max_connections = 24;
    // How long a call waits for a connection when all are busy.
    std::chrono::milliseconds borrow_wait{30000};
    int max_attempts = 8;  // runs of work that keeps meeting serialization failures
    // How long a statement waits for another transaction's row lock before it fails (206).
    std::chrono::milliseconds lock_wait{30000};
    // The clock the borrow wait is measured by (calls.now) and the pause before a retry
    // (calls.sleep); the real ones when the member is empty. The other members are not used.
    platform::seam calls{};
  };

  pg_pool(std::string conninfo, options settings);
  pg_pool(const pg_pool&) = delete;
  pg_pool& operator=(const pg_pool&) = delete;

  // Runs work(pg_connection&) and returns its result. `account` names the account in
  // descriptions. `repeatable`: the work may run again after its connection was lost mid-way
  // (reads, and writes that replace). The host's _com_error from work passes through.
  template <class work_type>
  auto run(const text& account, bool repeatable, work_type&& work)
      -> std::invoke_result_t<work_type&, pg_connection&> {
    for (int attempt = 1;; ++attempt) {
      lease borrowed = borrow(account);
      try {
        if constexpr (std::is_void_v<std::invoke_result_t<work_type&, pg_connection&>>) {
          work(*borrowed.connection);
          give_back(borrowed);
          return;
        } else {
          auto result = work(*borrowed.connection);
          give_back(borrowed);
          return result;
        }
      } catch (const pg_failure& failure) {
        const bool lost = borrowed.connection->broken();
        give_back(borrowed);
        if (!retry(failure, lost, repeatable, borrowed.reused, attempt)) {
          storage_failure(account, failure);
        }
      } catch (...) {
        give_back(borrowed);
        throw;
      }
    }
  }

  // Connects now (start-up check and schema creation). Throws pg_failure.
  std::unique_ptr<pg_connection> connect_now() const;

  std::size_t open_count();  // connections open, idle or borrowed
  std::size_t idle_count();

 private:
  struct lease {
    std::unique_ptr<pg_connection> connection;
    std::uint64_t epoch = 0;
    bool reused = false;  // taken from the idle list, not opened for this call
  };
  lease borrow(const text& account);
  void give_back(lease& borrowed);
  // Whether to run the work again; marks lost connections. REQUIRES: `borrowed` given back.
  bool retry(const pg_failure& failure, bool lost, bool repeatable, bool reused, int attempt);
  [[noreturn]] void storage_failure(const text& account, const pg_failure& failure) const;
  platform::seam::clock::time_point now() const;

  const std::string conninfo_;
  const options options_;
  std::mutex mutex_;
  std::condition_variable freed_;
  std::vector<lease> idle_;  // guarded by mutex_, as are the two below
  std::size_t open_ = 0;
  std::uint64_t epoch_ = 0;  // bumped when a connection is lost; older idle ones are dropped
};

}  // namespace ombrix
