// Connection threads: each serves one accepted connection at a time (its one request, through
// the connection handler), then shuts the connection down and closes it.
// Thread-safe: start_connection_thread runs on the accept loop, each thread owns its record.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "base/settings.h"
#include "platform/socket.h"
#include "server/connection_intake.h"
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

// What the connections of one listener share: held by its accept loop and by every connection
// thread, so that it lives as long as the last of them. The counter and the settings outlive
// them all.
struct connection_origin {
  connection_origin(connection_handler serve, std::uint16_t listening_port,
                    connection_counter& connections, const settings& server_config,
                    thread_starter starter, socket_handle listener, connection_acceptor accept,
                    bool set_options, peer_user_finder find_peer, std::size_t most_waiting)
      : intake(listener, std::move(accept), set_options, find_peer, most_waiting, server_config),
        handler(std::move(serve)),
        port(listening_port),
        counter(connections),
        config(server_config),
        start_thread(std::move(starter)) {}

  connection_intake intake;  // where a thread that has served its connection waits for the next
  const connection_handler handler;
  const std::uint16_t port;
  connection_counter& counter;
  const settings& config;
  const thread_starter start_thread;  // for a thread to wait in the intake in another's place
};

// Numbers the accepted connection from origin's counter and starts its thread with
// origin.start_thread. Returns 0 when the thread started (it now owns the socket), -1
// otherwise; the socket is then closed, and a failed thread start is reported at debug level 1.
// The thread serves its connection, then waits in the intake for the next one (each with a
// number of its own) as long as the intake lets it, and ends after that.
int start_connection_thread(platform::unique_socket socket, const platform::peer_address& peer,
                            std::shared_ptr<connection_origin> origin);

}  // namespace ombrix
