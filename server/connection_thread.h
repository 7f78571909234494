// Connection threads: one detached thread per accepted connection, which serves its one request
// through the connection handler and then shuts the connection down and closes it.
// Thread-safe: start_connection_thread runs on the accept loop, each thread owns its record.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include "base/settings.h"
#include "platform/socket.h"
#include "server/request_context.h"

namespace ombrix {

// Serves the one request of a connection. Runs on the connection's own thread; the context and
// the texts it points at live until the handler returns.
using connection_handler = std::function<void(const request_context&)>;

// Starts entry(argument) on a detached thread; returns 0 or an error number (then the caller
// still owns argument). platform::start_detached_thread is the real one.
using thread_starter = std::function<int(void (*entry)(void*), void* argument)>;

// Hands out connection numbers 1, 2, 3... Thread-safe.
class connection_counter {
 public:
  std::int32_t next() { return value_.fetch_add(1, std::memory_order_relaxed) + 1; }

 private:
  std::atomic<std::int32_t> value_{0};
};

// Numbers the accepted connection from `counter` and starts its thread with `start_thread`.
// Returns 0 when the thread started (it now owns the socket), -1 otherwise; the socket is then
// closed, and a failed thread start is reported at debug level 1 of `config`, which (like
// `counter`) must outlive the thread.
int start_connection_thread(platform::unique_socket socket, const platform::peer_address& peer,
                            std::uint16_t port, std::shared_ptr<const connection_handler> handler,
                            connection_counter& counter, const thread_starter& start_thread,
                            const settings& config);

}  // namespace ombrix
