// Who owns the other end of an accepted loopback connection. Every client of the server runs on
// this machine, so the kernel can say which user opened the client's socket; the accept loop
// serves only the server's own user and the administrator. Thread-safe: each call uses
// descriptors of its own and closes them before it returns; failures show in the result.
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

// Finds the owner of the client socket at the far end of `connection`, an accepted IPv4
// connection whose peer address accept returned as `peer`. Uses descriptors of its own, so it
// reports unknown when the process has none left.
peer_user find_peer_user(socket_handle connection, const peer_address& peer);

}  // namespace ombrix::platform
