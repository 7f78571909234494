// The server process: reads the command line and the environment, opens the store OMBRIX_STORE
// names (the embedded store when unset or empty), builds the process context and runs the
// listener, whose result is the exit code.
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <string>

#include "host/factory/host_store.h"
#include "http/memory_budget.h"
#include "platform/descriptor_limit.h"
#include "platform/memory.h"
#include "platform/seam.h"
#include "rest/dispatcher.h"
#include "server/http_connection.h"
#include "server/listener.h"
#include "server/options.h"
#include "server/process_context.h"

int main(int argc, char** argv) {
  const ombrix::start_decision decision = ombrix::read_command_line(argc, argv, std::cout, std::cerr);
  if (decision.exit_code) return *decision.exit_code;
  ombrix::platform::limit_allocator_arenas();
  // Each connection holds a descriptor; a failure leaves the old limit, which still works.
  (void)ombrix::platform::raise_descriptor_limit();

  // The environment is read here once; a store that cannot be used ends the start-up with
  // one sentence, before the port is taken.
  ombrix::host_store_choice choice;
  if (const char* store = std::getenv("OMBRIX_STORE")) choice.store = store;
  if (const char* data = std::getenv("OMBRIX_DATA")) choice.data = data;
  if (const char* account = std::getenv("OMBRIX_ACCOUNT")) choice.account = account;
  std::shared_ptr<ombrix::host_store> store;
  try {
    store = ombrix::host_store::open(choice);
  } catch (const ombrix::host_store_error& error) {
    std::cerr << error.what() << std::endl;
    return 1;
  }
  // Never destroyed (kept reachable): the listener's threads may use it until the process
  // ends, which is right after run_server returns.
  static ombrix::process_context* const process = new ombrix::process_context(
      decision.settings.server_settings(), store,
      ombrix::default_budget_bytes(std::getenv("OMBRIX_MEMORY_BUDGET_MB")),
      ombrix::platform::real_seam());
  ombrix::process_context& context = *process;

  const ombrix::rest_context rest = context.rest();
  const ombrix::rest_dispatcher dispatch = [rest](std::int32_t connection,
                                                  const std::string& environment_text,
                                                  const std::string& body,
                                                  ombrix::dispatch_reply& reply) {
    // A kept reply of a large item or listing is sent from the host's cache, not copied.
    return ombrix::dispatch_rest_request(connection, environment_text, body, reply.text, rest,
                                         &reply.kept);
  };
  // A client that waits before sending its body is answered at once when its head decides.
  const ombrix::early_reply_check early_reply = [rest](const std::string& environment_text,
                                                       std::string& reply) {
    return ombrix::reply_decided_by_head(environment_text, reply, rest);
  };
  const ombrix::settings& config = context.config();
  ombrix::memory_budget& budget = context.budget();
  return ombrix::run_server(
      decision.settings.port,
      [&config, &budget, dispatch, early_reply](const ombrix::request_context& request) {
        ombrix::handle_http_request(request, config, budget, dispatch, early_reply);
      },
      context.listener());
}
