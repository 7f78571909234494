#include "server/connection_intake.h"

#include <string>
#include <utility>

#include "base/diagnostics.h"
#include "server/socket_stream.h"

namespace ombrix {

namespace {

// The final close of a connection waits this long for unsent data.
constexpr int linger_seconds = 30;

}  // namespace

const char* set_connection_options(socket_handle socket) {
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

connection_intake::connection_intake(socket_handle listener, connection_acceptor accept,
                                     bool set_options, peer_user_finder find_peer,
                                     std::size_t most_waiting, const settings& config)
    : listener_(listener),
      accept_(std::move(accept)),
      set_options_(set_options),
      find_peer_(find_peer),
      most_waiting_(platform::accept_times_out() ? most_waiting : 0),
      config_(config) {}

intake_result connection_intake::take(platform::unique_socket& connection,
                                      platform::peer_address& peer,
                                      platform::peer_user_lookup& lookup) {
  connection = platform::unique_socket(accept_(listener_, peer));
  return admit(connection, peer, lookup);
}

bool connection_intake::threads_wait() const {
  const std::lock_guard lock(mutex_);
  return waiting_ > 0;
}

bool connection_intake::wait_while_threads_wait(std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  unattended_.wait_for(lock, limit, [this] { return waiting_ == 0; });
  return waiting_ > 0;
}

bool connection_intake::enlist() {
  if (closed_) return false;
  const std::lock_guard lock(mutex_);
  if (waiting_ >= most_waiting_) return false;
  ++waiting_;
  return true;
}

intake_result connection_intake::wait_for_next(platform::unique_socket& connection,
                                               platform::peer_address& peer,
                                               platform::peer_user_lookup& lookup,
                                               bool& keep_place) {
  keep_place = false;
  // However the wait ends (a failure to write a refusal's line included), the place is given
  // up unless it is handed on below.
  struct place {
    connection_intake& intake;
    bool handed_on = false;
    ~place() {
      if (!handed_on) intake.leave();
    }
  } mine{*this};
  for (;;) {
    {
      const std::shared_lock in_accept(in_accept_);
      if (closed_) return intake_result::none_waiting;
      connection = platform::unique_socket(accept_(listener_, peer));
    }
    const intake_result result = admit(connection, peer, lookup);
    if (result == intake_result::refused) continue;
    if (result != intake_result::accepted) return result;
    mine.handed_on = true;
    const std::lock_guard lock(mutex_);
    // The last waiting thread keeps its place for the one that is to wait next, so that the
    // accept loop is not woken for a moment without one.
    if (waiting_ == 1) {
      keep_place = true;
    } else {
      --waiting_;
    }
    return result;
  }
}

void connection_intake::leave() {
  const std::lock_guard lock(mutex_);
  if (--waiting_ == 0) unattended_.notify_all();
}

void connection_intake::close() {
  closed_ = true;
  if (most_waiting_ == 0) return;  // no thread ever waited in accept
  // Ends the accepts in progress at once instead of after their time-out; new connections are
  // refused from here on.
  platform::shutdown_both(listener_);
  const std::unique_lock no_accept_left(in_accept_);
}

intake_result connection_intake::admit(platform::unique_socket& connection,
                                       const platform::peer_address& peer,
                                       platform::peer_user_lookup& lookup) {
  if (!connection) {
    return platform::is_timeout_error(platform::last_socket_error()) ? intake_result::none_waiting
                                                                     : intake_result::failed;
  }
  // Only the server's own user and the administrator are served. A refused connection is reset
  // at close, so that closing it never waits on the client.
  const platform::peer_user owner = find_peer_ != nullptr ? find_peer_(connection.get(), peer)
                                                          : lookup.find(connection.get(), peer);
  if (owner.standing != platform::peer_standing::allowed) {
    if (owner.standing == platform::peer_standing::foreign) {
      debug_line(config_, 1, "Refused connection from user " + std::to_string(owner.user));
    } else {
      debug_line(config_, 1,
                 "Refused connection: the user of its client socket cannot be determined");
    }
    (void)platform::set_linger(connection.get(), 0);
    connection = platform::unique_socket();
    return intake_result::refused;
  }
  if (set_options_) {
    // A failure here is not worth refusing the client: the connection is served without the
    // bound.
    (void)set_connection_options(connection.get());
    (void)platform::gather_output(connection.get());
  }
  return intake_result::accepted;
}

}  // namespace ombrix
