// What a connection thread hands to the HTTP layer for its one request.
#pragma once

#include <cstdint>

#include "platform/socket.h"

namespace ombrix {

struct request_context {
  const char* remote_host = nullptr;     // numeric peer address or "unknown"
  const char* remote_address = nullptr;  // the same buffer as remote_host
  socket_handle socket{};                // the accepted socket; owned by the connection thread
  std::uint16_t server_port = 0;         // the listening port
  std::int32_t connection_number = 0;    // unique for the life of the process, from 1
};

}  // namespace ombrix
