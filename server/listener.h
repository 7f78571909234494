// The listener: the loopback listening socket and the accept loop of the main thread, which
// hands every connection to a thread of its own. Runs on the main thread; one call per process
// (tests may run it more than once, one at a time).
#pragma once

#include <chrono>

#include "platform/peer_user.h"
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

using connection_acceptor = socket_handle (*)(socket_handle listener, platform::peer_address& peer);
using pause_function = void (*)(std::chrono::milliseconds pause);
using peer_user_finder = platform::peer_user (*)(socket_handle connection,
                                                 const platform::peer_address& peer);

// Parts of the listener that tests replace; null members mean the real ones.
struct listener_services {
  connection_counter* counter = nullptr;  // null: process_connection_counter()
  thread_starter start_thread = nullptr;  // null: start_cached_thread
  connection_acceptor accept = nullptr;   // null: platform::accept_connection
  pause_function pause = nullptr;         // null: std::this_thread::sleep_for
  peer_user_finder find_peer = nullptr;   // null: a platform::peer_user_lookup
};

// Listens on 127.0.0.1:`port` and serves each connection with `handler` on its own detached
// thread until server_running is cleared, which it notices within about a second. Returns the
// process exit code: 1 after a start-up failure (one line on standard error), 0 after the stop.
// Connection threads still running when it returns are neither waited for nor told.
// A connection whose client socket belongs to another user than the server's own (or root),
// or whose owner cannot be found, is closed at once without reading from it.
int run_server(int port, connection_handler handler);
int run_server(int port, connection_handler handler, const listener_services& services);

}  // namespace ombrix
