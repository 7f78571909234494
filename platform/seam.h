// The platform calls whose timing and failures tests steer: the clock, sleeping, accepting a
// connection and starting a thread. main builds one from real_seam() and hands it down; a test
// replaces the members it needs. The listener needs every member set; the stores' connection
// pools (now, sleep) and table of open accounts (now) take the real ones for empty members,
// through now_of and sleep_of. Copies are cheap.
// Thread-safe as long as every member is (the real ones are).
//
//   platform::seam calls = platform::real_seam();
//   calls.accept = [](socket_handle, platform::peer_address&) { return invalid_socket; };
#pragma once

#include <chrono>
#include <functional>

#include "platform/socket.h"

namespace ombrix::platform {

struct seam {
  using clock = std::chrono::steady_clock;

  std::function<clock::time_point()> now;
  std::function<void(std::chrono::milliseconds pause)> sleep;
  // As accept_connection: an accepted socket (owned by the caller) or invalid_socket.
  std::function<socket_handle(socket_handle listener, peer_address& peer)> accept;
  // Starts entry(argument) on a detached thread; 0, or an error number (the caller then still
  // owns argument), as start_detached_thread.
  std::function<int(void (*entry)(void*), void* argument)> start_thread;
};

// steady_clock::now, this_thread::sleep_for, accept_connection and start_detached_thread.
seam real_seam();

// calls.now(), or steady_clock::now() when the member is empty.
seam::clock::time_point now_of(const seam& calls);
// calls.sleep(pause), or this_thread::sleep_for(pause) when the member is empty.
void sleep_of(const seam& calls, std::chrono::milliseconds pause);

}  // namespace ombrix::platform
