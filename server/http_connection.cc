#include "server/http_connection.h"

#include "platform/socket.h"
#include "server/socket_stream.h"

namespace ombrix {
namespace {

// The request's view of its connection: why the input ended, interim responses, and the
// draining of input that was not read.
class socket_transport final : public request_transport {
 public:
  explicit socket_transport(socketstream& stream) : stream_(stream) {}

  bool input_timed_out() const override {
    return stream_.rdbuf()->end_of_input() == input_end::timed_out;
  }

  void send_interim_response(std::string_view bytes) override {
    socketbuf& buffer = *stream_.rdbuf();
    (void)buffer.sputn(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    (void)buffer.pubsync();
    buffer.restart_output_time();
  }

  void discard_unread_input(std::chrono::milliseconds limit) override {
    socketbuf& buffer = *stream_.rdbuf();
    // A client that is gone, or that has sent everything, needs no draining.
    if (buffer.pubsync() != 0 || stream_.bad() || buffer.end_of_input() == input_end::closed ||
        buffer.end_of_input() == input_end::failed) {
      return;
    }
    // The end of the response tells a client that reads as it sends to stop sending.
    platform::shutdown_send(buffer.socket());
    buffer.discard_input(limit);
  }

 private:
  socketstream& stream_;
};

}  // namespace

int handle_http_request(const request_context& context, const settings& config,
                        memory_budget& budget, const rest_dispatcher& dispatch,
                        const early_reply_check& early_reply) {
  const request_origin origin{context.remote_host, context.remote_address, context.server_port,
                              context.connection_number};
  // The stream's destruction at the end of this scope sends what it still holds.
  socketstream stream(context.socket);
  socket_transport transport(stream);
  request_services services;
  services.transport = &transport;
  services.early_reply = early_reply;
  services.budget = &budget;
  services.config = &config;
  return serve_http_request(stream, origin, dispatch, services);
}

}  // namespace ombrix
