// The server process: reads the command line into the process-wide settings and runs the
// listener, whose result is the exit code.
#include <cstdint>
#include <iostream>
#include <string>

#include "server/http_connection.h"
#include "platform/descriptor_limit.h"
#include "platform/memory.h"
#include "rest/dispatcher.h"
#include "server/listener.h"
#include "server/options.h"

int main(int argc, char** argv) {
  const ombrix::start_decision decision = ombrix::read_command_line(argc, argv, std::cout, std::cerr);
  if (decision.exit_code) return *decision.exit_code;
  ombrix::apply_settings(decision.settings);
  ombrix::platform::limit_allocator_arenas();
  // Each connection holds a descriptor; a failure leaves the old limit, which still works.
  (void)ombrix::platform::raise_descriptor_limit();

  const ombrix::rest_dispatcher dispatch = [](std::int32_t connection,
                                              const std::string& environment_text,
                                              const std::string& body, std::string& reply) {
    return ombrix::dispatch_rest_request(connection, environment_text, body, reply);
  };
  // A client that waits before sending its body is answered at once when its head decides.
  const ombrix::early_reply_check early_reply = [](const std::string& environment_text,
                                                   std::string& reply) {
    return ombrix::reply_decided_by_head(environment_text, reply);
  };
  // The listener's threads may outlive main's locals only until the process ends, which is
  // right after run_server returns; the handler keeps its own copies of both.
  return ombrix::run_server(decision.settings.port,
                            [dispatch, early_reply](const ombrix::request_context& context) {
                              ombrix::handle_http_request(context, dispatch, early_reply);
                            });
}
