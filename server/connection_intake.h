// Taking connections off the listening socket: the accept, the check of the client's owner and
// the socket options of each connection, for the accept loop and for connection threads.
//
// Where the platform's accept gives up after the listener's receive time-out, a connection
// thread that has served its connection waits in accept for the next one itself, and the accept
// loop only takes connections while no thread waits so: a busy server then hands no connection
// from thread to thread, and an idle one wakes one thread per connection instead of two.
// Thread-safe: any number of threads may take at once; close() ends the waiting of all of them.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <mutex>
#include <shared_mutex>

#include "base/settings.h"
#include "platform/peer_user.h"
#include "platform/socket.h"

namespace ombrix {

// Finds the owner of an accepted connection's client; tests script it.
using peer_user_finder = platform::peer_user (*)(socket_handle connection,
                                                 const platform::peer_address& peer);

// Accepts on a listener, as platform::accept_connection.
using connection_acceptor =
    std::function<socket_handle(socket_handle listener, platform::peer_address& peer)>;

// Sets the time-outs (socket_timeout_milliseconds) and the linger setting. Returns null, or the
// start of the failure message of the first option that could not be set.
const char* set_connection_options(socket_handle socket);

enum class intake_result {
  accepted,      // a connection to serve
  none_waiting,  // no connection came within the listener's time-out, or the intake closed
  failed,        // the accept failed (see platform::last_socket_error)
  refused,       // its client belongs to another user, or its owner is unknown; it is closed
};

class connection_intake {
 public:
  // `listener` is a blocking listening socket with its receive time-out set, which the caller
  // closes only after close(). `accept` accepts on it; `set_options` sets the options on every
  // connection (where accepted sockets do not inherit them from the listener); `find_peer`,
  // when not null, replaces the kernel's look-up of owners. At most `most_waiting` connection
  // threads wait at once. Refusals are reported at debug level 1 of `config`, which outlives
  // the intake.
  connection_intake(socket_handle listener, connection_acceptor accept, bool set_options,
                    peer_user_finder find_peer, std::size_t most_waiting,
                    const settings& config);
  connection_intake(const connection_intake&) = delete;
  connection_intake& operator=(const connection_intake&) = delete;

  // The accept loop's take, once the listener is readable: one connection into `connection`
  // and `peer`, its owner found with `lookup` (the calling thread's own).
  intake_result take(platform::unique_socket& connection, platform::peer_address& peer,
                     platform::peer_user_lookup& lookup);

  // Whether connection threads wait for connections now (then the accept loop leaves the
  // connections to them).
  bool threads_wait() const;
  // The accept loop's pause while threads_wait(): returns when none waits any more or after
  // `limit`. Returns whether threads still wait.
  bool wait_while_threads_wait(std::chrono::milliseconds limit);

  // Whether connection threads may wait for connections here at all.
  bool threads_may_wait() const { return most_waiting_ > 0; }

  // Counts the calling thread among the waiting ones, so that the accept loop leaves new
  // connections to it; false when the platform's accept cannot be waited in, the intake is
  // closed or `most_waiting` threads wait already. After true the thread calls wait_for_next.
  bool enlist();
  // An enlisted thread's wait for its next connection: returns accepted with one (passing over
  // refused ones), or none_waiting or failed (a failing accept is the accept loop's to pause
  // on); the thread is then no longer counted, except that `keep_place` is set when it took a
  // connection while no other thread waited: its place then stays counted, for a thread the
  // caller starts to wait in it (with wait_for_next), or for leave().
  intake_result wait_for_next(platform::unique_socket& connection, platform::peer_address& peer,
                              platform::peer_user_lookup& lookup, bool& keep_place);
  // Gives up a place kept by wait_for_next.
  void leave();

  // Wakes the waiting threads and waits until none is in accept any more; after it no thread
  // waits or enlists again. The accept loop's take is not affected.
  void close();

 private:
  // The outcome of the accept that filled `connection` (empty when it failed): checks the
  // owner and sets the options of an accepted one.
  intake_result admit(platform::unique_socket& connection, const platform::peer_address& peer,
                      platform::peer_user_lookup& lookup);

  const socket_handle listener_;
  const connection_acceptor accept_;
  const bool set_options_;
  const peer_user_finder find_peer_;
  const std::size_t most_waiting_;
  const settings& config_;

  mutable std::mutex mutex_;
  std::condition_variable unattended_;  // waiting_ fell to 0
  std::size_t waiting_ = 0;             // guarded by mutex_: enlisted threads and kept places
  std::atomic<bool> closed_{false};
  // Held shared by every thread in accept, exclusively by close: the listener is not closed
  // under a thread that is still in accept on it.
  std::shared_mutex in_accept_;
};

}  // namespace ombrix
