#include "server/connection_thread.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <utility>

#include "platform/thread.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

// NI_MAXHOST: room for any numeric host text.
constexpr std::size_t peer_text_size = 1025;

// Everything a connection thread needs; allocated by the accept loop, owned by the thread.
struct connection_record {
  std::int32_t number = 0;
  platform::unique_socket socket;
  platform::peer_address peer;
  std::uint16_t port = 0;
  std::shared_ptr<const connection_handler> handler;
  const settings* config = nullptr;
};

void serve_connection(const connection_record& record) {
  char peer_text[peer_text_size];
  if (const int error = platform::numeric_host(record.peer, peer_text, sizeof peer_text);
      error != 0) {
    debug_line(*record.config, 1, "Failed to get peer address: " + std::to_string(error));
    std::strcpy(peer_text, "unknown");
  }

  request_context context;
  context.remote_host = peer_text;
  context.remote_address = peer_text;
  context.socket = record.socket.get();
  context.server_port = record.port;
  context.connection_number = record.number;
  (*record.handler)(context);
}

// The thread procedure. Nothing may leave it: an exception escaping a thread would end the
// process, and a handler failure must not affect other connections.
void connection_thread(void* argument) noexcept {
  std::unique_ptr<connection_record> record(static_cast<connection_record*>(argument));
  const settings& config = *record->config;
  try {
    {
      const platform::thread_component_scope components;
      if (!components.ok()) {
        char line[64];
        std::snprintf(line, sizeof line, "Failed CoInitializeEx - [%lx]",
                      static_cast<unsigned long>(components.failure()) & 0xFFFFFFFFul);
        write_diagnostic(line);
        return;  // the record, and with it the socket, is released on the way out
      }
      try {
        serve_connection(*record);
      } catch (...) {
        // The handler answers its own failures; whatever still escapes it ends only this
        // request, and the connection is closed below as usual.
      }
      platform::shutdown_both(record->socket.get());
      record.reset();  // closes the socket, then the components are released
    }
    debug_line(config, 2, "End of thread execution");
  } catch (...) {
    // Only a diagnostic line could not be written; there is no one left to tell.
  }
}

}  // namespace

int start_connection_thread(platform::unique_socket socket, const platform::peer_address& peer,
                            std::uint16_t port, std::shared_ptr<const connection_handler> handler,
                            connection_counter& counter, const thread_starter& start_thread,
                            const settings& config) {
  std::unique_ptr<connection_record> record(new (std::nothrow) connection_record);
  if (!record) return -1;  // `socket` closes the connection

  record->number = counter.next();
  record->socket = std::move(socket);
  record->peer = peer;
  record->port = port;
  record->handler = std::move(handler);
  record->config = &config;

  const int error = start_thread(connection_thread, record.get());
  if (error == 0) {
    record.release();  // the thread owns it now
    return 0;
  }
  record.reset();  // frees the record and closes the connection
  try {
    debug_line(config, 1, "Failed to launch thread for connection: " + std::to_string(error));
  } catch (...) {
    // Out of memory for the line: the connection is closed already.
  }
  return -1;
}

}  // namespace ombrix
