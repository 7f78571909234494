// The listener: the loopback listening socket and the accept loop of the main thread, which
// hands every connection to a thread of its own. Runs on the main thread; one call per process
// (tests may run it more than once, one at a time).
#pragma once

#include "server/connection_thread.h"

namespace ombrix {

// Parts of the listener that tests replace; null members mean the real ones.
struct listener_services {
  connection_counter* counter = nullptr;  // null: process_connection_counter()
  thread_starter start_thread = nullptr;  // null: start_cached_thread
};

// Listens on 127.0.0.1:`port` and serves each connection with `handler` on its own detached
// thread until server_running is cleared, which it notices within about a second. Returns the
// process exit code: 1 after a start-up failure (one line on standard error), 0 after the stop.
// Connection threads still running when it returns are neither waited for nor told.
int run_server(int port, connection_handler handler);
int run_server(int port, connection_handler handler, const listener_services& services);

}  // namespace ombrix
