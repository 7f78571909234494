// The HTTP request reader: serves the one request a stream carries (the connection's socket
// stream, or a memory stream in tests). Runs on the caller's thread; shares nothing with other
// requests.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <string_view>

#include "base/settings.h"
#include "http/memory_budget.h"

namespace ombrix {

// What a dispatcher answers with: `text`, or, when it sets `kept`, a text it shares with a cache
// that keeps it, which is then sent as it is (never copied) and `text` is ignored.
struct dispatch_reply {
  std::string text;
  std::shared_ptr<const std::string> kept;
  std::string_view view() const { return kept ? std::string_view(*kept) : std::string_view(text); }
};

// The REST entry point: (connection number, request environment text, body, reply) -> status.
using rest_dispatcher =
    std::function<int(std::int32_t, const std::string&, const std::string&, dispatch_reply&)>;

// What the reader knows of the connection besides its stream.
struct request_origin {
  const char* remote_host = nullptr;
  const char* remote_address = nullptr;
  std::uint16_t server_port = 0;
  std::int32_t connection_number = 0;
};

// What the connection behind a request's stream can tell and do besides reading and writing.
// Belongs to the request's thread.
class request_transport {
 public:
  virtual ~request_transport() = default;
  // Whether the input ended because a time limit struck (the receive time-out, or the time the
  // whole request may take) rather than by the client's close or a failure.
  virtual bool input_timed_out() const = 0;
  // Sends `bytes` (an interim response) at once; the final response's time starts afresh.
  virtual void send_interim_response(std::string_view bytes) = 0;
  // Called after the response is written when the request's input was not read to its end:
  // sends what the stream holds, ends the sending direction and reads and drops what still
  // arrives for at most `limit`, so that the client receives the response instead of a reset.
  virtual void discard_unread_input(std::chrono::milliseconds limit) = 0;
};

// Decides from the request environment text alone (no body) a final reply for a request whose
// client waits for leave to send its body (Expect: 100-continue). Returns 0 to let the body
// come, or the status with `reply` filled as the dispatcher would fill it.
using early_reply_check = std::function<int(const std::string&, std::string&)>;

// The optional parts of serving a request; each may be left empty.
struct request_services {
  request_transport* transport = nullptr;  // none: an in-memory stream that never times out
  early_reply_check early_reply;           // none: every waiting client is asked for its body
  memory_budget* budget = nullptr;         // none: a budget of the call's own, without limit
  const settings* config = nullptr;        // none: default_settings (no diagnostics)
};

// How long a connection whose body was not read to its end keeps reading and dropping it
// before it is closed.
inline constexpr std::chrono::milliseconds unread_input_drain_time{2000};

// Reads one request from `stream`, checks it, calls `dispatch` and writes the response to
// `stream`. Returns 0 after a dispatcher response, the status after an error response and 500
// after a fixed reply. Never throws; an exception of `dispatch` becomes a fixed 500 reply.
// Bodies come with a Content-Length or in chunked transfer coding; a client that sends
// "Expect: 100-continue" gets "HTTP/1.1 100 Continue" before its body is read, unless the head
// alone decides the reply (a body over the limit, an `early_reply`). A body over 128 MiB is
// refused with 413 as soon as its bytes pass the limit; one cut off by a time limit with 408.
// The memory budget is charged as the body's bytes arrive (4 per byte) and for the reply while
// it is held and sent; a piece it cannot take within 2 s is answered 503, before the
// dispatcher runs for a body, instead of the reply for a reply over 64 KiB. The body buffer's
// memory follows the bytes that arrive, not the announced Content-Length.
int serve_http_request(std::iostream& stream, const request_origin& origin,
                       const rest_dispatcher& dispatch, const request_services& services = {});

// Reads a decimal number the way the C library's atoi does (leading white space, a sign,
// digits up to the first non-digit; no digits give 0), saturating at the 32-bit limits.
std::int32_t parse_content_length(std::string_view text);

}  // namespace ombrix
