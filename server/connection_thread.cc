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

// The connection a thread serves now; allocated by the accept loop (or, without a connection, for
// a thread started to wait in another's place), owned by the thread.
struct connection_record {
  std::int32_t number = 0;
  platform::unique_socket socket;
  // The connection served last, shut down with everything sent: a thread that waits for its
  // next connection closes it once the wait is over, by when the client has long acknowledged
  // the end, so that the lingering close does not hold the thread up for that.
  platform::unique_socket finished;
  platform::peer_address peer;
  std::shared_ptr<connection_origin> origin;
};

void serve_connection(const connection_record& record) {
  char peer_text[peer_text_size];
  if (const int error = platform::numeric_host(record.peer, peer_text, sizeof peer_text);
      error != 0) {
    debug_line(record.origin->config, 1, "Failed to get peer address: " + std::to_string(error));
    std::strcpy(peer_text, "unknown");
  }

  request_context context;
  context.remote_host = peer_text;
  context.remote_address = peer_text;
  context.socket = record.socket.get();
  context.server_port = record.origin->port;
  context.connection_number = record.number;
  record.origin->handler(context);
}

// Serves the record's connection and shuts it down; closes it, or leaves it in record.finished
// for after the thread's next wait. Returns false when the thread's components could not be set
// up (then the connection is closed unanswered).
bool serve_and_close(connection_record& record) {
  const platform::thread_component_scope components;
  if (!components.ok()) {
    char line[64];
    std::snprintf(line, sizeof line, "Failed CoInitializeEx - [%lx]",
                  static_cast<unsigned long>(components.failure()) & 0xFFFFFFFFul);
    write_diagnostic(line);
    return false;
  }
  try {
    serve_connection(record);
  } catch (...) {
    // The handler answers its own failures; whatever still escapes it ends only this
    // request, and the connection is closed below as usual.
  }
  platform::shutdown_both(record.socket.get());
  // A client still taking the response is waited for here, by the linger close, not after
  // the next connection has come.
  if (record.origin->intake.threads_may_wait() &&
      platform::everything_sent(record.socket.get())) {
    record.finished = std::move(record.socket);
  } else {
    record.socket = platform::unique_socket();  // closed before the components are released
  }
  return true;
}

void connection_thread(void* argument) noexcept;

// Starts a thread to wait in the intake in the place the caller kept; gives the place up when
// none starts (the accept loop then takes the connections).
void start_waiting_thread(const std::shared_ptr<connection_origin>& origin) {
  std::unique_ptr<connection_record> record(new (std::nothrow) connection_record);
  if (record) {
    record->origin = origin;
    if (origin->start_thread(connection_thread, record.get()) == 0) {
      record.release();  // the thread owns it now
      return;
    }
  }
  origin->intake.leave();
}

// Waits in the intake for the next connection, into `record`; the thread's place there is
// taken already when `enlisted`. Returns whether `record` holds one to serve.
bool next_connection(connection_record& record, platform::peer_user_lookup& lookup,
                     bool enlisted) {
  connection_intake& intake = record.origin->intake;
  platform::unique_socket finished = std::move(record.finished);  // closed on the way out
  if (!enlisted && !intake.enlist()) return false;
  bool keep_place = false;
  const intake_result result = intake.wait_for_next(record.socket, record.peer, lookup, keep_place);
  finished = platform::unique_socket();
  if (result != intake_result::accepted) return false;
  record.number = record.origin->counter.next();
  if (keep_place) start_waiting_thread(record.origin);
  return true;
}

// The thread procedure. Nothing may leave it: an exception escaping a thread would end the
// process, and a handler failure must not affect other connections. A record without a socket
// is a thread started to wait in the intake in another's place.
void connection_thread(void* argument) noexcept {
  std::unique_ptr<connection_record> record(static_cast<connection_record*>(argument));
  const settings& config = record->origin->config;
  try {
    platform::peer_user_lookup lookup;  // this thread's own; opened by its first look-up
    if (!record->socket && !next_connection(*record, lookup, true)) return;
    do {
      if (!serve_and_close(*record)) return;
      debug_line(config, 2, "End of thread execution");
    } while (next_connection(*record, lookup, false));
  } catch (...) {
    // Only a diagnostic line could not be written; there is no one left to tell.
  }
}

}  // namespace

int start_connection_thread(platform::unique_socket socket, const platform::peer_address& peer,
                            std::shared_ptr<connection_origin> origin) {
  std::unique_ptr<connection_record> record(new (std::nothrow) connection_record);
  if (!record) return -1;  // `socket` closes the connection

  const settings& config = origin->config;
  record->number = origin->counter.next();
  record->socket = std::move(socket);
  record->peer = peer;
  record->origin = std::move(origin);

  const int error = record->origin->start_thread(connection_thread, record.get());
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
