#include "http/response_writer.h"

#include "base/text_helpers.h"
#include "http/text_dump.h"
#include "json/reply_texts.h"
#include "base/diagnostics.h"

namespace ombrix {
namespace {

static_assert(dispatcher_header_template.size() == 91);
static_assert(error_header_template.size() == 123);

constexpr std::string_view line_end = "\r\n";
constexpr std::string_view header_end = "\r\n\r\n";

// Why a dispatcher reply cannot be framed; empty when its first line is a Content-Type header.
std::string_view first_line_fault(std::string_view reply, const settings& config) {
  std::string first_line(reply.substr(0, reply.find(line_end)));
  to_upper(first_line);
  const std::size_t colon = first_line.find(':');
  if (colon == std::string::npos) {
    debug_line(config, 1, "Velquor response invalid header in first line (missing ':')");
    return "bad response (no ':' after CONTENT-TYPE)";
  }
  if (std::string_view(first_line).substr(0, colon) != "CONTENT-TYPE") {
    debug_line(config, 1, "Velquor response missing Content-Type header as first line");
    return "bad response (no CONTENT-TYPE header)";
  }
  return {};
}

}  // namespace

std::string_view status_reason(int status) {
  switch (status) {
    case 200: return "OK";
    case 401: return "Unauthorized";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 408: return "Request Timeout";
    case 412: return "Precondition Failed";
    case 413: return "Payload Too Large";
    case 500: return "Internal Error";
    case 501: return "Not Implemented";
    case 503: return "Service Unavailable";
    default: return "Bad Request";
  }
}

std::string replace_first(std::string_view text, std::string_view from, std::string_view to) {
  std::string result(text);
  const std::size_t at = result.find(from);
  if (at != std::string::npos) result.replace(at, from.size(), to);
  return result;
}

std::string header_block(std::string_view header_template, int status) {
  return replace_first(replace_first(header_template, "$$STATUS", std::to_string(status)),
                       "$$REASON", status_reason(status));
}

std::size_t reply_body_length(std::string_view reply) {
  const std::size_t at = reply.find(header_end);
  return at == std::string_view::npos ? 0 : reply.size() - at - header_end.size();
}

int write_error_response(std::ostream& stream, int status, std::string_view message) {
  const std::string body =
      error_reply_json(status, message.empty() ? status_reason(status) : message, "");
  std::string head = header_block(error_header_template, status);
  head.append("Content-Length: ").append(std::to_string(body.size())).append(header_end);
  stream.write(head.data(), static_cast<std::streamsize>(head.size()));
  stream.write(body.data(), static_cast<std::streamsize>(body.size()));
  return status;
}

int write_dispatcher_response(std::ostream& stream, const settings& config, int status,
                              std::string_view reply) {
  if (status != 200 && reply.empty()) {
    debug_line(config, 1,
               "Velquor returned status " + std::to_string(status) + " without error info");
    return write_error_response(stream, status);
  }
  const std::size_t body_length = reply_body_length(reply);
  if (config.debug_enabled(1)) {
    write_diagnostic(reply.empty() ? std::string("Velquor returned status 200 with no content")
                                   : "Velquor returned status " + std::to_string(status) +
                                         " with " + std::to_string(body_length) + " bytes");
  }
  if (config.debug_enabled(2) && !reply.empty() && reply.back() == '\n') dump_text_lines(reply);

  if (!reply.empty()) {
    const std::string_view fault = first_line_fault(reply, config);
    if (!fault.empty()) return write_error_response(stream, 500, fault);
  }
  std::string head = header_block(dispatcher_header_template, status);
  if (reply.empty()) {
    head.append(line_end);
  } else if (body_length > 0) {
    head.append("Content-Length: ").append(std::to_string(body_length)).append(line_end);
  }
  stream.write(head.data(), static_cast<std::streamsize>(head.size()));
  stream.write(reply.data(), static_cast<std::streamsize>(reply.size()));
  return 0;
}

void write_fixed_reply(std::ostream& stream, std::string_view reply) noexcept {
  try {
    stream.write(reply.data(), static_cast<std::streamsize>(reply.size()));
  } catch (...) {
    // The connection is being given up anyway; nothing more can be told to the client.
  }
}

}  // namespace ombrix
