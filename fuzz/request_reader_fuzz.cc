// Feeds arbitrary bytes through the request reader as one connection's input, with a stand-in
// dispatcher whose answer is also taken from the input, so that the framing paths are reached
// too. Checks the invariants every response must keep.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/memory_stream.h"
#include "http/request_handler.h"
#include "http/response_writer.h"
#include "base/settings.h"

namespace {

// The stand-in's status and reply come from the body: a first byte picks the status, the rest
// is the reply text.
int stand_in_dispatch(std::int32_t, const std::string& environment, const std::string& body,
                      ombrix::dispatch_reply& reply) {
  static constexpr int statuses[] = {200, 200, 200, 401, 404, 409, 500, 201};
  // The environment must stay a sequence of complete NAME=value lines: no LF outside a line
  // end, no line without "=", nothing after the last line end.
  for (std::size_t start = 0; start < environment.size();) {
    const std::size_t end = environment.find("\r\n", start);
    if (end == std::string::npos) std::abort();
    const std::string_view line(environment.data() + start, end - start);
    if (line.find('=') == std::string_view::npos || line.find('\n') != std::string_view::npos) {
      std::abort();
    }
    start = end + 2;
  }
  if (body.empty()) {
    reply.text = "Content-Type:application/json\r\n\r\n{}\r\n";
    return 200;
  }
  reply.text = body.substr(1);
  return statuses[static_cast<unsigned char>(body[0]) % 8];
}

bool starts_with(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  // Most runs stay quiet; a few exercise the diagnostic paths.
  ombrix::settings config;
  if (!input.empty() && (input[0] == '\x01' || input[0] == '\x02')) {
    config.debug_level = input[0];
    input.remove_prefix(1);
  }
  ombrix::memory_stream stream(input);
  const ombrix::request_origin origin{"127.0.0.1", "127.0.0.1", 3181, 1};
  ombrix::request_services services;
  services.config = &config;
  const int returned = ombrix::serve_http_request(stream, origin, stand_in_dispatch, services);
  const std::string& response = stream.output();

  // Every answer is exactly one response that starts with a status line.
  if (!starts_with(response, "HTTP/1.1 ")) std::abort();
  if (returned == 500 && (response == ombrix::unknown_error_reply ||
                          response == ombrix::out_of_memory_reply)) {
    return 0;
  }
  if (returned != 0 && !starts_with(response, ombrix::header_block(ombrix::error_header_template,
                                                                  returned))) {
    std::abort();
  }
  return 0;
}
