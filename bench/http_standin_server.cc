// The server's HTTP layer behind its real listener, with a stand-in dispatcher that answers
// every request with the same 200-byte JSON: what bench/http_load.sh measures.
//
//   http_standin_server PORT [DEBUG_LEVEL]
//
// Runs until it is killed.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/http_connection.h"
#include "json/reply_texts.h"
#include "server/listener.h"
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
  if (argc > 2) ombrix::debug_level = std::atoi(argv[2]);

  const std::string reply = ombrix::json_reply(json_of_size(200));
  const ombrix::rest_dispatcher dispatch = [reply](std::int32_t, const std::string&,
                                                   const std::string&, std::string& out) {
    out = reply;
    return 200;
  };
  return ombrix::run_server(port, [dispatch](const ombrix::request_context& context) {
    ombrix::handle_http_request(context, dispatch);
  });
}
