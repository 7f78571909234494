// The reply texts of the REST service: the error reply, json_reply and the empty reply.
// Pure functions; thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ombrix {

// First line and empty line of every JSON reply (33 bytes).
inline constexpr std::string_view json_content_type = "Content-Type:application/json\r\n\r\n";

// The compact error object {"status":S,"message":"...","code":"..."}.
std::string error_reply_json(int status, std::string_view message, std::string_view code);

// Replaces `reply` with the error reply and returns `status`.
int make_error_reply(std::string& reply, int status, std::string_view code,
                     std::string_view message);
// The same with a numeric code, written as decimal text.
int make_error_reply(std::string& reply, int status, std::int64_t code, std::string_view message);

// The frame of a JSON success: the content-type line, the empty line, the JSON and CR LF.
std::string json_reply(std::string_view json);

}  // namespace ombrix
