// The bytes the server is expected to write, written down once for every test folder. Standard
// library only (the soak programs build without the project); no shared state.
#pragma once

#include <string>
#include <string_view>

namespace ombrix::test {

inline constexpr std::string_view fixed_headers = "Server: tolvanard\r\nCache-control: no-cache\r\nConnection: close\r\n";

// The reason phrase the server writes after `status`: ten phrases, "Bad Request" for the rest.
inline std::string reason_phrase(int status) {
  switch (status) {
    case 200: return "OK";                    case 401: return "Unauthorized";
    case 404: return "Not Found";             case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";       case 412: return "Precondition Failed";
    case 413: return "Payload Too Large";     case 500: return "Internal Error";
    case 501: return "Not Implemented";       case 503: return "Service Unavailable";
    default: return "Bad Request";
  }
}

// The status line and the fixed headers of every reply.
inline std::string header_block(int status) { return "HTTP/1.1 " + std::to_string(status) + " " + reason_phrase(status) + "\r\n" + std::string(fixed_headers); }

// A JSON string literal with the server's escaping rules (control bytes, quote, backslash).
inline std::string json_quote(std::string_view text) {
  static constexpr char hex[] = "0123456789ABCDEF";
  static constexpr std::string_view short_forms[] = {"\\b", "\\t", "\\n", "", "\\f", "\\r"};  // 0x08 to 0x0D
  std::string out = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') out.append(1, '\\').append(1, static_cast<char>(c));
    else if (c >= 0x08 && c <= 0x0D && c != 0x0B) out += short_forms[c - 0x08];
    else if (c < 0x20 || c == 0x7F) out.append("\\u00").append(1, hex[c >> 4]).append(1, hex[c & 15]);
    else out += static_cast<char>(c);
  }
  return out + "\"";
}

inline std::string error_json(int status, std::string_view message, std::string_view code = "") {
  return "{\"status\":" + std::to_string(status) + ",\"message\":" + json_quote(message) + ",\"code\":" + json_quote(code) + "}";
}

// A REST reply that carries JSON: Content-Length, the dispatcher's Content-Type line, the JSON.
inline std::string rest_reply(int status, const std::string& body) {
  return header_block(status) + "Content-Length: " + std::to_string(body.size()) + "\r\nContent-Type:application/json\r\n\r\n" + body;
}
// A success ends its JSON with CR LF; an error object has none after it.
inline std::string json_response(std::string_view json) { return rest_reply(200, std::string(json) + "\r\n"); }
inline std::string rest_error(int status, std::string_view message, std::string_view code = "") { return rest_reply(status, error_json(status, message, code)); }

// A REST success without JSON (update, create, delete, rename, logout).
inline std::string empty_success() { return header_block(200) + "\r\n"; }

// An error answered by the HTTP layer itself (its own Content-Type line, then Content-Length);
// an empty `message` is the reason phrase.
inline std::string http_error(int status, std::string_view message = {}) {
  const std::string body = error_json(status, message.empty() ? reason_phrase(status) : message);
  return header_block(status) + "Content-Type: application/json\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The fixed plain-text replies for an exception in the HTTP layer and for memory running out.
inline std::string plain_500(std::string_view text) {
  return "HTTP/1.1 500 Internal Server Error\r\n" + std::string(fixed_headers) + "Content-Type: text/plain\r\n\r\n" + std::string(text);
}
inline std::string unknown_error_response() { return plain_500("Unknown error"); }
inline std::string out_of_memory_response() { return plain_500("Out of memory"); }

// The JSON of one item as the file action returns it.
inline std::string item_json(std::string_view id, std::string_view data) {
  return "{\"id\":" + json_quote(id) + ",\"type\":\"array\",\"data\":" + std::string(data) + "}";
}

// The server's usage text (-v, unknown options) and its two validation messages.
inline const std::string usage_text =
    "Corvessa Ombrix Server v1.0.5\n"
    "-a\t\tExit when client logs out\n"
    "-d <level>\tDebug level 1 or 2\n"
    "-m\t\tRun minimized\n"
    "-n <version>\tCorvessa version 71 or 80\n"
    "-p <port>\tPort number for connections\n"
    "\n";
inline const std::string invalid_port_text = "Invalid port specified - must be between 1025-65535\n";
inline const std::string invalid_version_text = "Invalid server version - must be 71 (Corvessa 7.1) or 80 (Corvessa 8.0)\n";

// The line the server writes to standard error once it listens.
inline std::string listening_notice(int port) { return "Corvessa Ombrix server listening on port " + std::to_string(port) + "\n"; }

// UTF-16 units as four-digit upper-case hexadecimal, space-separated: readable failure output.
inline std::string hex_units(std::u16string_view units) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (char16_t u : units) {
    if (!out.empty()) out += ' ';
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(u >> shift) & 0xF];
  }
  return out;
}

}  // namespace ombrix::test
