// The HTTP response writer: status phrases, the JSON error response, the framing of a
// dispatcher reply and the two fixed 500 replies. Every response closes the connection.
// Stateless apart from the stream it is given; thread-safe.
#pragma once

#include <ostream>
#include <string>
#include <string_view>

#include "base/settings.h"

namespace ombrix {

// Header block of a framed dispatcher reply (91 bytes before substitution).
inline constexpr std::string_view dispatcher_header_template =
    "HTTP/1.1 $$STATUS $$REASON\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
    "Connection: close\r\n";
// Header block of an error response (123 bytes before substitution).
inline constexpr std::string_view error_header_template =
    "HTTP/1.1 $$STATUS $$REASON\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
    "Connection: close\r\nContent-Type: application/json\r\n";

// The fixed replies for an exception that reaches the request handler; no Content-Length,
// the end of the connection ends the body.
inline constexpr std::string_view out_of_memory_reply =
    "HTTP/1.1 500 Internal Server Error\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
    "Connection: close\r\nContent-Type: text/plain\r\n\r\nOut of memory";
inline constexpr std::string_view unknown_error_reply =
    "HTTP/1.1 500 Internal Server Error\r\nServer: tolvanard\r\nCache-control: no-cache\r\n"
    "Connection: close\r\nContent-Type: text/plain\r\n\r\nUnknown error";

// The reason phrase of `status`; "Bad Request" for every status outside the table (which holds
// 200, 401, 404, 405, 408, 413, 500, 501 and 503).
// The text is static.
std::string_view status_reason(int status);

// `text` with the first occurrence of `from` replaced by `to`; a copy when `from` is absent.
std::string replace_first(std::string_view text, std::string_view from, std::string_view to);

// `header_template` with "$$STATUS" and "$$REASON" filled in for `status`.
std::string header_block(std::string_view header_template, int status);

// Writes a complete error response whose body is the compact JSON error object with `status`,
// `message` (the reason phrase when `message` is empty) and an empty `code`. Returns `status`.
// A failing stream is not reported: the stream's state tells.
int write_error_response(std::ostream& stream, int status, std::string_view message = {});

// Frames the dispatcher's `status` and `reply` (a text whose first line is a Content-Type
// header, or empty) and writes it. Returns 0 when the reply was framed, or the status of the
// error response written instead (a non-200 status without reply, or a malformed first line).
// Diagnostics follow config.debug_level.
int write_dispatcher_response(std::ostream& stream, const settings& config, int status,
                              std::string_view reply);

// Number of bytes after the first CR LF CR LF of `reply`; 0 when there is none.
std::size_t reply_body_length(std::string_view reply);

// Appends a fixed reply to `stream`; never throws.
void write_fixed_reply(std::ostream& stream, std::string_view reply) noexcept;

}  // namespace ombrix
