#include "server/http_connection.h"

#include "server/socket_stream.h"

namespace ombrix {

int handle_http_request(const request_context& context, const rest_dispatcher& dispatch) {
  const request_origin origin{context.remote_host, context.remote_address, context.server_port,
                              context.connection_number};
  // The stream's destruction at the end of this scope sends what it still holds.
  socketstream stream(context.socket);
  return serve_http_request(stream, origin, dispatch);
}

}  // namespace ombrix
