// The listener: the loopback listening socket and the accept loop of the main thread, which
// hands every connection it takes to a thread of its own (where the platform allows, connection
// threads that have served theirs take the next ones themselves). Runs on the main thread; one
// call per process (tests may run it more than once, one at a time).
#pragma once

#include <atomic>
#include <chrono>

#include "base/settings.h"
#include "platform/peer_user.h"
#include "platform/seam.h"
#include "platform/socket.h"
#include "server/connection_thread.h"

namespace ombrix {

// How long the accept loop pauses after failed accepts, so that a process out of descriptors
// (whose pending connection keeps the listening socket readable) waits for descriptors to free
// instead of retrying at full speed: 10 ms after the first failure in a row, doubling up to
// 500 ms; a successful accept starts over. Not thread-safe; belongs to the accept loop.
class accept_backoff {
 public:
  static constexpr std::chrono::milliseconds first_pause{10};
  static constexpr std::chrono::milliseconds longest_pause{500};

  // The pause to take after one more failure in a row.
  std::chrono::milliseconds after_failure();
  // Called after a successful accept.
  void reset() { pause_ = std::chrono::milliseconds{0}; }

 private:
  std::chrono::milliseconds pause_{0};
};

// What the listener uses of the process. Every part outlives run_server, and the settings,
// the counter and the start_thread of `calls` also every connection thread it starts.
struct listener_services {
  const settings& config;             // run_minimized, and the diagnostics
  std::atomic<bool>& server_running;  // set at start-up; the loop runs while it is true
  connection_counter& counter;        // numbers the connections
  // accept takes the connections (also on connection threads, while they run), sleep makes
  // the pauses of accept_backoff, start_thread starts each connection's thread.
  const platform::seam& calls;
  peer_user_finder find_peer = nullptr;  // null: a platform::peer_user_lookup
};

// Listens on 127.0.0.1:`port` and serves each connection with `handler` on a thread of its own
// until services.server_running is cleared, which it notices within about a second. A thread
// that has served its connection waits for the next one itself where the platform allows (see
// connection_intake), for at most the socket time-out.
// Returns the process exit code: 1 after a start-up failure (one line on standard error), 0
// after the stop.
// Connection threads still running when it returns are neither waited for nor told.
// A connection whose client socket belongs to another user than the server's own (or root),
// or whose owner cannot be found, is closed at once without reading from it.
int run_server(int port, connection_handler handler, const listener_services& services);

}  // namespace ombrix
