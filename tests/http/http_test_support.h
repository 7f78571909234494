// Shared helpers of the HTTP unit tests: expected error bytes and a scoped debug level.
// Not thread-safe: debug_level is process-wide.
#pragma once

#include <string>
#include <string_view>

#include "base/settings.h"

namespace ombrix::test {

inline constexpr std::string_view fixed_headers =
    "Server: tolvanard\r\nCache-control: no-cache\r\nConnection: close\r\n";

// The expected bytes of an error response: status line, the fixed headers, the JSON content
// type, the length of `json` and `json` itself.
inline std::string error_response(std::string_view status_line, std::string_view json) {
  std::string wire(status_line);
  wire.append("\r\n").append(fixed_headers).append("Content-Type: application/json\r\n");
  wire.append("Content-Length: ").append(std::to_string(json.size())).append("\r\n\r\n");
  return wire.append(json);
}

// The HTTP layer's own 400 reply with `message`.
inline std::string bad_request(std::string_view message) {
  return error_response("HTTP/1.1 400 Bad Request",
                        "{\"status\":400,\"message\":\"" + std::string(message) + "\",\"code\":\"\"}");
}

// Sets debug_level for one scope and restores it afterwards.
class debug_level_guard {
 public:
  explicit debug_level_guard(int level) : saved_(debug_level) { debug_level = level; }
  ~debug_level_guard() { debug_level = saved_; }
  debug_level_guard(const debug_level_guard&) = delete;
  debug_level_guard& operator=(const debug_level_guard&) = delete;

 private:
  int saved_;
};

}  // namespace ombrix::test
