// Peer owners on Windows: not looked up (see platform/peer_user.h).
#include "platform/peer_user.h"

namespace ombrix::platform {

peer_user find_peer_user(socket_handle, const peer_address&) {
  return {peer_standing::allowed, -1};
}

}  // namespace ombrix::platform
