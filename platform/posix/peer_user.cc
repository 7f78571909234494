// Peer owners on Linux: asked of the kernel's socket diagnostics over netlink, with its TCP
// socket tables in /proc as the fallback when netlink is not available.
#include "platform/peer_user.h"

#include <unistd.h>

#include <optional>

#include "platform/posix/socket_owner.h"

namespace ombrix::platform {

peer_user peer_user_lookup::find(socket_handle connection, const peer_address& peer) {
  const std::optional<connection_ends> ends = ends_of(connection, peer);
  if (!ends) return {};
  std::optional<long> owner = owner_from_socket_diagnostics(*ends, channel_, sequence_);
  if (!owner) owner = owner_from_socket_tables(*ends);
  if (!owner) return {};
  const bool allowed = *owner == 0 || *owner == static_cast<long>(::geteuid());
  return {allowed ? peer_standing::allowed : peer_standing::foreign, *owner};
}

}  // namespace ombrix::platform
