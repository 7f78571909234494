// The server's HTTP layer behind its real listener, with a stand-in dispatcher that answers
// every request with the same 200-byte JSON: what bench/http_load.sh measures.
//
//   http_standin_server PORT [DEBUG_LEVEL]
//
// Runs until it is killed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <string>

#include "server/http_connection.h"
#include "json/reply_texts.h"
#include "server/listener.h"
#include "server/thread_cache.h"
#include "platform/seam.h"
#include "base/settings.h"

namespace {

// A JSON object of exactly `size` bytes, padded with a run of letters.
std::string json_of_size(std::size_t size) {
  const std::string head = "{\"status\":\"ok\",\"padding\":\"";
  const std::string tail = "\"}";
  return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: http_standin_server PORT [DEBUG_LEVEL]\n");
    return 1;
  }
  const int port = std::atoi(argv[1]);
  ombrix::settings config;
  if (argc > 2) config.debug_level = std::atoi(argv[2]);

  const std::string reply = ombrix::json_reply(json_of_size(200));
  const ombrix::rest_dispatcher dispatch = [reply](std::int32_t, const std::string&,
                                                   const std::string&,
                                                   ombrix::dispatch_reply& out) {
    out.text = reply;
    return 200;
  };
  ombrix::memory_budget budget(
      ombrix::default_budget_bytes(std::getenv("OMBRIX_MEMORY_BUDGET_MB")));
  std::atomic<bool> server_running{false};
  ombrix::connection_counter connections;
  ombrix::platform::seam calls = ombrix::platform::real_seam();
  ombrix::thread_cache threads(calls.start_thread, ombrix::server_idle_threads,
                               ombrix::server_thread_idle_time);
  calls.start_thread = [&threads](void (*entry)(void*), void* argument) {
    return threads.start(entry, argument);
  };
  return ombrix::run_server(
      port,
      [&config, &budget, dispatch](const ombrix::request_context& context) {
        ombrix::handle_http_request(context, config, budget, dispatch);
      },
      ombrix::listener_services{config, server_running, connections, calls});
}
