#include "server/listener.h"

#include <algorithm>
#include <memory>
#include <string>
#include <utility>

#include "platform/console.h"
#include "platform/socket.h"
#include "server/thread_cache.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

// Connections the kernel queues while the accept loop is busy. A queue of 20 overflows under a
// few dozen simultaneous clients on a busy machine, and each dropped connect then waits one to
// three seconds for its retry; a deeper queue costs nothing until it is used.
constexpr int listen_backlog = 1024;
// Bounds how long a cleared server_running goes unnoticed.
constexpr int wait_seconds = 1;

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
  if (const char* failure = set_connection_options(listener.get())) {
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
  const auto origin = std::make_shared<connection_origin>(
      std::move(handler), port_number, services.counter, config, calls.start_thread,
      listener.get(), calls.accept, !inherited_options, services.find_peer, server_idle_threads);
  write_diagnostic("Corvessa Ombrix server listening on port " + std::to_string(port));
  debug_line(config, 1, "Debugging enabled");
  (void)platform::listen_on(listener.get(), listen_backlog);
  server_running = true;
  if (config.run_minimized) platform::minimize_console_window();

  // Failed waits and accepts tend to repeat at once (a process without free descriptors keeps
  // seeing its pending connection); the pauses keep the loop from spinning meanwhile.
  accept_backoff backoff;
  platform::peer_user_lookup lookup;
  connection_intake& intake = origin->intake;
  while (server_running) {
    // While connection threads wait in accept, the connections are theirs.
    if (intake.wait_while_threads_wait(std::chrono::seconds(wait_seconds))) continue;
    const int ready = platform::wait_readable(listener.get(), wait_seconds);
    if (ready == 0) continue;
    if (ready < 0) {
      const int error = platform::last_socket_error();
      debug_line(config, 1, "select() error encountered: " + std::to_string(error));
      calls.sleep(backoff.after_failure());
      continue;
    }
    // A thread that began to wait meanwhile takes this one.
    if (intake.threads_wait()) continue;
    platform::peer_address peer;
    platform::unique_socket connection;
    switch (intake.take(connection, peer, lookup)) {
      case intake_result::none_waiting:  // a thread took it first; the accept timed out
        continue;
      case intake_result::failed:
        calls.sleep(backoff.after_failure());
        continue;
      case intake_result::refused:
        backoff.reset();
        continue;
      case intake_result::accepted:
        backoff.reset();
        (void)start_connection_thread(std::move(connection), peer, origin);
    }
  }
  // Connection threads still running wait for no more connections: the listening socket
  // closes.
  intake.close();
  return 0;
}

}  // namespace ombrix
