// The state of one server process, built once by main after the command line is read and
// passed down in pieces: each layer gets references to the parts it uses, never the whole.
// Never destroyed while the process runs: detached connection threads may still use its parts
// while the process ends. Thread-safe as its parts are (settings and store are read-only).
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>
#include <string>
#include <utility>

#include "base/settings.h"
#include "host/factory/host_store.h"
#include "http/memory_budget.h"
#include "platform/seam.h"
#include "rest/dispatcher.h"
#include "rest/item_locks.h"
#include "rest/session_table.h"
#include "server/connection_thread.h"
#include "server/listener.h"
#include "server/thread_cache.h"

namespace ombrix {

class process_context {
 public:
  // `store` is the opened store; `budget_bytes` the memory budget's limit; `calls` the
  // platform seam (platform::real_seam() in the server).
  process_context(const settings& config, std::shared_ptr<host_store> store,
                  std::size_t budget_bytes, platform::seam calls)
      : config_(config),
        calls_(std::move(calls)),
        budget_(budget_bytes),
        threads_(calls_.start_thread, server_idle_threads, server_thread_idle_time),
        store_(std::move(store)) {
    // Connection threads come from the cache; everything else starts threads directly.
    listener_calls_ = calls_;
    listener_calls_.start_thread = [this](void (*entry)(void*), void* argument) {
      return threads_.start(entry, argument);
    };
  }
  process_context(const process_context&) = delete;
  process_context& operator=(const process_context&) = delete;

  const settings& config() const { return config_; }
  memory_budget& budget() { return budget_; }
  session_table& sessions() { return sessions_; }
  thread_cache& threads() { return threads_; }

  // What the REST layer uses: the settings, the sessions, the item locks, hosts from the store
  // and the stop flag a logout may clear.
  rest_context rest() {
    const std::shared_ptr<host_store> store = store_;
    const settings& config = config_;
    return rest_context{
        config_, sessions_, locks_,
        [store, &config](const std::string& server) { return store->create(config, server); },
        server_running_};
  }

  // What the listener uses: the settings, the stop flag, the connection counter and the seam,
  // whose threads come from the thread cache.
  listener_services listener() {
    return listener_services{config_, server_running_, connections_, listener_calls_};
  }

 private:
  const settings config_;
  const platform::seam calls_;
  platform::seam listener_calls_;
  std::atomic<bool> server_running_{false};
  memory_budget budget_;
  session_table sessions_;
  item_lock_table locks_;
  connection_counter connections_;
  thread_cache threads_;
  const std::shared_ptr<host_store> store_;
};

}  // namespace ombrix
