// The HTTP request reader: serves the one request a stream carries (the connection's socket
// stream, or a memory stream in tests). Runs on the caller's thread; shares nothing with other
// requests.
#pragma once

#include <cstdint>
#include <functional>
#include <iosfwd>
#include <string>
#include <string_view>

namespace ombrix {

// The REST entry point: (connection number, request environment text, body, reply) -> status.
using rest_dispatcher =
    std::function<int(std::int32_t, const std::string&, const std::string&, std::string&)>;

// What the reader knows of the connection besides its stream.
struct request_origin {
  const char* remote_host = nullptr;
  const char* remote_address = nullptr;
  std::uint16_t server_port = 0;
  std::int32_t connection_number = 0;
};

// Reads one request from `stream`, checks it, calls `dispatch` and writes the response to
// `stream`. Returns 0 after a dispatcher response, the status after an error response and 500
// after a fixed reply. Never throws; an exception of `dispatch` becomes a fixed 500 reply.
// A body over 128 MiB is refused with 413 as soon as its bytes pass the limit, and one that the
// process-wide memory budget cannot take within 2 s with 503, before the dispatcher runs. The
// body buffer's memory follows the bytes that arrive, not the announced Content-Length.
int serve_http_request(std::iostream& stream, const request_origin& origin,
                       const rest_dispatcher& dispatch);

// Reads a decimal number the way the C library's atoi does (leading white space, a sign,
// digits up to the first non-digit; no digits give 0), saturating at the 32-bit limits.
std::int32_t parse_content_length(std::string_view text);

}  // namespace ombrix
