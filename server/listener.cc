#include "server/listener.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "platform/console.h"
#include "platform/socket.h"
#include "server/socket_stream.h"
#include "server/thread_cache.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

// The final close of a connection waits this long for unsent data.
constexpr int linger_seconds = 30;
// Connections the kernel queues while the accept loop is busy. A queue of 20 overflows under a
// few dozen simultaneous clients on a busy machine, and each dropped connect then waits one to
// three seconds for its retry; a deeper queue costs nothing until it is used.
constexpr int listen_backlog = 1024;
// Bounds how long a cleared server_running goes unnoticed.
constexpr int wait_seconds = 1;

// Sets the time-outs and the linger setting. Returns null, or the start of the failure message
// of the first option that could not be set.
const char* set_socket_options(socket_handle socket) {
  if (!platform::set_receive_timeout(socket, socket_timeout_milliseconds)) {
    return "Cannot set socket option SO_RCVTIMEO: ";
  }
  if (!platform::set_send_timeout(socket, socket_timeout_milliseconds)) {
    return "Cannot set socket option SO_SNDTIMEO: ";
  }
  if (!platform::set_linger(socket, linger_seconds)) {
    return "Cannot set socket option SO_LINGER: ";
  }
  return nullptr;
}

// Whether the client at the far end of `connection` may be served; writes why not when it may
// not. A refused connection is reset at close, so that closing it never waits on the client.
bool admit(socket_handle connection, const platform::peer_address& peer, peer_user_finder find_peer,
           platform::peer_user_lookup& lookup, const settings& config) {
  const platform::peer_user owner =
      find_peer != nullptr ? find_peer(connection, peer) : lookup.find(connection, peer);
  if (owner.standing == platform::peer_standing::allowed) return true;
  if (owner.standing == platform::peer_standing::foreign) {
    debug_line(config, 1, "Refused connection from user " + std::to_string(owner.user));
  } else {
    debug_line(config, 1, "Refused connection: the user of its client socket cannot be determined");
  }
  (void)platform::set_linger(connection, 0);
  return false;
}

}  // namespace

std::chrono::milliseconds accept_backoff::after_failure() {
  pause_ = pause_ == std::chrono::milliseconds{0} ? first_pause
                                                  : std::min(pause_ * 2, longest_pause);
  return pause_;
}

int run_server(int port, connection_handler handler, const listener_services& services) {
  const settings& config = services.config;
  std::atomic<bool>& server_running = services.server_running;
  const platform::seam& calls = services.calls;
  const peer_user_finder find_peer = services.find_peer;
  platform::peer_user_lookup lookup;  // used when find_peer is null
  const auto shared_handler = std::make_shared<const connection_handler>(std::move(handler));
  const auto port_number = static_cast<std::uint16_t>(port);

  const platform::socket_library library;
  if (!library.ok()) {
    write_diagnostic("Cannot initialize winsock: " + std::to_string(library.error()));
    return 1;
  }

  const platform::unique_socket listener(platform::create_stream_socket());
  if (!listener) {
    write_diagnostic("Cannot create server socket: " +
                     std::to_string(platform::last_socket_error()));
    return 1;
  }
  if (const char* failure = set_socket_options(listener.get())) {
    write_diagnostic(failure + std::to_string(platform::last_socket_error()));
    return 1;
  }
  if (!platform::bind_loopback(listener.get(), port_number)) {
    const int error = platform::last_socket_error();
    write_diagnostic("Cannot bind to port " + std::to_string(port) + ": " +
                     std::to_string(error));
    return 1;
  }

  // Responses leave in blocks; sent as packets of their own, a block's short tail would wait
  // for the client's delayed acknowledgement. Gathered, they leave as full packets and the
  // rest at the shutdown every connection ends with.
  // Where accepted sockets inherit the listener's options, they are set once, here, instead of
  // four calls per connection; elsewhere on every accepted socket.
  const bool inherited_options = platform::accepted_sockets_inherit_options() &&
                                 platform::gather_output(listener.get());
  write_diagnostic("Corvessa Ombrix server listening on port " + std::to_string(port));
  debug_line(config, 1, "Debugging enabled");
  (void)platform::listen_on(listener.get(), listen_backlog);
  server_running = true;
  if (config.run_minimized) platform::minimize_console_window();

  // Failed waits and accepts tend to repeat at once (a process without free descriptors keeps
  // seeing its pending connection); the pauses keep the loop from spinning meanwhile.
  accept_backoff backoff;
  while (server_running) {
    const int ready = platform::wait_readable(listener.get(), wait_seconds);
    if (ready == 0) continue;
    if (ready < 0) {
      const int error = platform::last_socket_error();
      debug_line(config, 1, "select() error encountered: " + std::to_string(error));
      calls.sleep(backoff.after_failure());
      continue;
    }
    platform::peer_address peer;
    platform::unique_socket connection(calls.accept(listener.get(), peer));
    if (!connection) {
      calls.sleep(backoff.after_failure());
      continue;
    }
    backoff.reset();
    if (!admit(connection.get(), peer, find_peer, lookup, config)) continue;
    if (!inherited_options) {
      // A failure here is not worth refusing the client: the connection is served without
      // the bound.
      (void)set_socket_options(connection.get());
      (void)platform::gather_output(connection.get());
    }
    (void)start_connection_thread(std::move(connection), peer, port_number, shared_handler,
                                  services.counter, calls.start_thread, config);
  }
  return 0;
}

}  // namespace ombrix
