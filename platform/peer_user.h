// Who owns the other end of an accepted loopback connection. Every client of the server runs on
// this machine, so the kernel can say which user opened the client's socket; the accept loop
// serves only the server's own user and the administrator. Failures show in the result.
//
// On Windows every peer is reported as allowed without a look-up: access to the loopback port
// there is left to the platform's own mechanisms (accounts, the firewall's per-program rules).
#pragma once

#include "platform/socket.h"

namespace ombrix::platform {

enum class peer_standing {
  allowed,  // the server's own user or the administrator
  foreign,  // any other user: not to be served
  unknown,  // no source could name the owner (it may have closed its socket already)
};

struct peer_user {
  peer_standing standing = peer_standing::unknown;
  long user = -1;  // the owner's user number when it was found, else -1
};

// Finds owners for one accept loop. Its channel to the kernel stays open from one look-up to the
// next instead of being opened and closed per connection; a channel that fails is closed and
// opened again by the next look-up, which reports unknown when no descriptor is left for it.
// Not thread-safe: one per thread that accepts.
class peer_user_lookup {
 public:
  peer_user_lookup() = default;
  peer_user_lookup(const peer_user_lookup&) = delete;
  peer_user_lookup& operator=(const peer_user_lookup&) = delete;

  // The owner of the client socket at the far end of `connection`, an accepted IPv4
  // connection whose peer address accept returned as `peer`.
  peer_user find(socket_handle connection, const peer_address& peer);

 private:
  unique_socket channel_;       // empty until the first look-up, and after a failure
  unsigned int sequence_ = 0;   // of the last query sent on channel_
};

}  // namespace ombrix::platform
