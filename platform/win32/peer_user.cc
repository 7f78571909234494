// Peer owners on Windows: not looked up (see platform/peer_user.h).
#include "platform/peer_user.h"

namespace ombrix::platform {

peer_user peer_user_lookup::find(socket_handle, const peer_address&) {
  return {peer_standing::allowed, -1};
}

}  // namespace ombrix::platform
