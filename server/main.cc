// The server process: reads the command line into the process-wide settings, opens the store
// OMBRIX_STORE names (the embedded store when unset or empty) and runs the listener, whose
// result is the exit code.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "base/settings.h"
#include "host/factory/host_store.h"
#include "server/http_connection.h"
#include "platform/descriptor_limit.h"
#include "platform/memory.h"
#include "rest/dispatcher.h"
#include "rest/session_table.h"
#include "server/listener.h"
#include "server/options.h"

int main(int argc, char** argv) {
  const ombrix::start_decision decision = ombrix::read_command_line(argc, argv, std::cout, std::cerr);
  if (decision.exit_code) return *decision.exit_code;
  ombrix::apply_settings(decision.settings);
  ombrix::platform::limit_allocator_arenas();
  // Each connection holds a descriptor; a failure leaves the old limit, which still works.
  (void)ombrix::platform::raise_descriptor_limit();

  // The environment is read here once; a store that cannot be used ends the start-up with
  // one sentence, before the port is taken.
  ombrix::host_store_choice choice;
  if (const char* store = std::getenv("OMBRIX_STORE")) choice.store = store;
  std::shared_ptr<ombrix::host_store> store;
  try {
    store = ombrix::host_store::open(choice);
  } catch (const ombrix::host_store_error& error) {
    std::cerr << error.what() << std::endl;
    return 1;
  }
  const ombrix::host_factory make_host = [store](const std::string& server) {
    return store->create(ombrix::host_version, server);
  };
  const ombrix::rest_dispatcher dispatch = [make_host](std::int32_t connection,
                                                       const std::string& environment_text,
                                                       const std::string& body,
                                                       std::string& reply) {
    return ombrix::dispatch_rest_request(connection, environment_text, body, reply,
                                         ombrix::process_session_table(), make_host);
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
