#include "http/request_handler.h"

#include <algorithm>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <istream>
#include <limits>
#include <map>
#include <new>
#include <optional>

#include "base/text_helpers.h"
#include "http/memory_budget.h"
#include "http/query_string.h"
#include "http/request_body.h"
#include "http/response_writer.h"
#include "http/text_dump.h"
#include "base/diagnostics.h"

namespace ombrix {
namespace {

constexpr std::string_view form_content_type = "application/x-www-form-urlencoded";

// The largest body a request may carry: room for the JSON of a 64 MiB item with its escapes.
// A larger one is refused once its bytes go past the limit; one that ends early is answered as
// any short body.
constexpr std::size_t max_body_bytes = 128 * 1024 * 1024;
// What serving a body costs the process per byte: the body, the item text (two bytes a
// character) and the host's own copy.
constexpr std::size_t budget_bytes_per_body_byte = 4;
// How long a request waits for the memory budget before it is refused.
constexpr std::chrono::milliseconds budget_wait{2000};
// A reply up to this size is charged without waiting and never refused: the acknowledgement of a
// change that is already made must reach its client. Larger ones are reads and listings.
constexpr std::size_t small_reply_bytes = 64 * 1024;

constexpr std::string_view continue_response = "HTTP/1.1 100 Continue\r\n\r\n";

bool is_allowed_method(std::string_view method) {
  return method == "GET" || method == "HEAD" || method == "POST" || method == "PUT" ||
         method == "DELETE" || method == "OPTIONS";
}

// The request line and the header lines together may hold at most this many bytes. Without a
// bound, a client that never sends a line end would make its thread's memory grow for as long
// as it keeps sending.
constexpr std::size_t max_head_bytes = 1024 * 1024;

enum class line_read { ok, none, too_long };

// Reads one line up to LF and drops the CR before it, taking its bytes from `budget`.
// none: nothing could be read (end of input, time-out); too_long: the budget ran out first.
line_read read_line(std::istream& stream, std::string& line, std::size_t& budget) {
  line.clear();
  std::streambuf* const buffer = stream.rdbuf();
  bool any = false;
  for (;;) {
    const int c = buffer->sbumpc();
    if (c == std::char_traits<char>::eof()) {
      stream.setstate(any ? std::ios::eofbit : std::ios::eofbit | std::ios::failbit);
      if (!any) return line_read::none;
      break;
    }
    any = true;
    if (c == '\n') break;
    if (budget == 0) return line_read::too_long;
    --budget;
    line.push_back(static_cast<char>(c));
  }
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line_read::ok;
}

// Reading may have left end-of-file and fail bits that would silence every write; a bad bit
// from a failed send stays, so nothing is sent after a send has failed.
void prepare_for_output(std::iostream& stream) {
  stream.clear(stream.rdstate() & std::ios::badbit);
}

void send_fixed_reply(std::iostream& stream, std::string_view reply) noexcept {
  try {
    prepare_for_output(stream);
  } catch (...) {
    // Only a stream that throws on state changes gets here; the write below may still work.
  }
  write_fixed_reply(stream, reply);
}

// Upper-cased header name -> trimmed value, in ascending byte order of the names.
using header_table = std::map<std::string, std::string, std::less<>>;

std::string_view header_value(const header_table& headers, std::string_view name) {
  const auto found = headers.find(name);
  return found == headers.end() ? std::string_view{} : std::string_view(found->second);
}

// Appends "NAME=value\r\n" and, at level 2 when `echo` is set, echoes it.
void add_variable(std::string& environment, std::string_view name, std::string_view value,
                  bool echo, const settings& config) {
  const std::size_t start = environment.size();
  environment.append(name).append("=").append(value);
  if (echo && config.debug_enabled(2)) {
    write_diagnostic("  " + std::string(std::string_view(environment).substr(start)));
  }
  environment.append("\r\n");
}

// The next word of `rest` (bytes up to a blank: space, tab, CR, LF, VT or FF), blanks before it
// skipped; empty when none is left. `rest` is left after the word. Words are split as a stream's
// >> splits them, without building a stream for every request line.
std::string next_word(std::string_view& rest) {
  const auto blank = [](char c) { return c == ' ' || (c >= '\t' && c <= '\r'); };
  std::size_t begin = 0;
  while (begin < rest.size() && blank(rest[begin])) ++begin;
  std::size_t end = begin;
  while (end < rest.size() && !blank(rest[end])) ++end;
  std::string word(rest.substr(begin, end - begin));
  rest.remove_prefix(end);
  return word;
}

// An error response the reader decided on: its status and message.
struct refusal {
  int status;
  std::string_view message;
};

// What the request line and the header lines say.
struct request_head {
  std::string method;
  std::string path;
  std::string query;
  std::string protocol_version;
  header_table headers;
  bool complete = false;  // the header lines were read to their end
};

// Reads the request line and the header lines into `head`, checking them in order: the size of
// the head, the method, the path, each header line, the Host header. Returns the refusal of the
// first check that fails.
std::optional<refusal> read_head(std::istream& stream, request_head& head, const settings& config) {
  std::size_t head_budget = max_head_bytes;
  std::string request_line;
  if (read_line(stream, request_line, head_budget) == line_read::too_long) {
    debug_line(config, 1, "HTTP request line too long");
    return refusal{413, "request header too large"};
  }
  if (config.debug_enabled(1)) write_diagnostic("HTTP request: " + request_line);

  std::string url;
  {
    std::string_view rest = request_line;
    head.method = next_word(rest);
    url = next_word(rest);
    head.protocol_version = next_word(rest);
  }
  if (!is_allowed_method(head.method)) {
    debug_line(config, 1, "Illegal HTTP method " + head.method);
    return refusal{405, {}};
  }

  const std::size_t question = url.find('?');
  head.path = url.substr(0, question);
  if (question != std::string::npos) head.query = url.substr(question + 1);
  if (head.path.empty() || head.path.front() != '/') {
    debug_line(config, 1, "Path missing from URL");
    return refusal{400, "path missing"};
  }

  debug_line(config, 2, "HTTP request headers:");
  std::string line;
  for (;;) {
    const line_read result = read_line(stream, line, head_budget);
    if (result == line_read::too_long) {
      debug_line(config, 1, "HTTP request headers too large");
      return refusal{413, "request header too large"};
    }
    if (result == line_read::none || line.empty()) {
      head.complete = true;
      break;
    }
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
      debug_line(config, 1, "HTTP request invalid header line: " + line);
      return refusal{400, "bad header"};
    }
    std::string name = line.substr(0, colon);
    to_upper(name);
    std::string value = line.substr(colon + 1);
    trim(value);
    if (config.debug_enabled(2)) write_diagnostic("  HTTP_" + name + ": " + value);
    head.headers.emplace(std::move(name), std::move(value));  // the first occurrence wins
  }

  if (header_value(head.headers, "HOST").empty()) {
    debug_line(config, 1, "HTTP request missing HOST header!");
    return refusal{400, "missing HOST header"};
  }
  return std::nullopt;
}

// The request environment text without its QS_ lines: the connection's and the request's
// variables in their fixed order, then one HTTP_ line per header. Level 2 echoes the variables
// when `echo` is set.
std::string build_environment(const request_head& head, const request_origin& origin,
                              std::int32_t content_length, bool echo, const settings& config) {
  auto add_variable = [&](std::string& text, std::string_view name, std::string_view value) {
    ombrix::add_variable(text, name, value, echo, config);
  };
  std::string environment;
  environment.reserve(512);  // the variables of a usual request, so it grows once or never
  if (origin.remote_address != nullptr && *origin.remote_address != '\0') {
    add_variable(environment, "REMOTE_ADDR", origin.remote_address);
  }
  if (origin.remote_host != nullptr && *origin.remote_host != '\0') {
    add_variable(environment, "REMOTE_HOST", origin.remote_host);
  }
  const std::string_view remote_user = header_value(head.headers, "REMOTE-USER");
  if (!remote_user.empty()) add_variable(environment, "REMOTE_USER", remote_user);
  if (!head.protocol_version.empty()) {
    add_variable(environment, "PROTOCOL_VERSION", head.protocol_version);
  }
  const std::string_view content_type = header_value(head.headers, "CONTENT-TYPE");
  if (!content_type.empty()) add_variable(environment, "CONTENT_TYPE", content_type);
  if (content_length != 0) {
    add_variable(environment, "CONTENT_LENGTH", std::to_string(content_length));
  }
  add_variable(environment, "REQUEST_METHOD", head.method);
  add_variable(environment, "PATH_INFO", head.path);
  add_variable(environment, "SERVER_PORT", std::to_string(origin.server_port));
  for (const auto& [name, value] : head.headers) {
    environment.append("HTTP_");
    const std::size_t name_start = environment.size();
    environment.append(name);
    std::replace(environment.begin() + static_cast<std::ptrdiff_t>(name_start), environment.end(),
                 '-', '_');
    environment.append("=").append(value).append("\r\n");
  }
  return environment;
}

// At level 2, the body's lines (or a word that it is binary).
void dump_body(const std::string& body, const settings& config) {
  if (!config.debug_enabled(2) || body.empty()) return;
  if (body.front() == '{' || body.back() == '\n') {
    write_diagnostic("HTTP request body:");
    dump_text_lines(body);
  } else {
    write_diagnostic("  body appears to contain binary data");
  }
}

// How the request's body is framed, or the refusal of a transfer coding that is not understood.
std::optional<refusal> body_framing_of(const request_head& head, std::int32_t content_length,
                                       body_framing& framing, const settings& config) {
  framing = content_length > 0 ? body_framing::length : body_framing::none;
  const std::string_view coding = header_value(head.headers, "TRANSFER-ENCODING");
  if (coding.empty()) return std::nullopt;
  if (!equals_ignore_case(coding, "chunked")) {
    debug_line(config, 1, "HTTP request transfer coding not supported: " + std::string(coding));
    return refusal{501, "transfer coding not supported"};
  }
  framing = body_framing::chunked;  // it overrides any Content-Length
  return std::nullopt;
}

// The refusal of a body that was not read whole.
refusal body_refusal(body_outcome outcome, body_framing framing, std::size_t received,
                     std::int32_t content_length, const request_transport* transport,
                     const settings& config) {
  const std::string got = std::to_string(received);
  switch (outcome) {
    case body_outcome::too_large:
      debug_line(config, 1, "Request body exceeds " + std::to_string(max_body_bytes) + " bytes");
      return {413, "request body too large"};
    case body_outcome::over_budget:
      debug_line(config, 1, "Memory budget spent; refusing a body after " + got + " bytes");
      return {503, "server busy, try again later"};
    case body_outcome::malformed:
      debug_line(config, 1, "HTTP request chunked body malformed after " + got + " bytes");
      return {400, "bad chunked body"};
    case body_outcome::ended_early:
    case body_outcome::complete:
      break;
  }
  if (transport != nullptr && transport->input_timed_out()) {
    debug_line(config, 1, "HTTP request timed out after " + got + " body bytes");
    return {408, "request timeout"};
  }
  if (framing == body_framing::chunked) {
    debug_line(config, 1, "HTTP request chunked body ended after " + got + " bytes");
    return {400, "bad chunked body"};
  }
  debug_line(config, 1,
             "Actual content size " + got + " differs from Content-Length header " +
                 std::to_string(content_length));
  return {400, "bad content-length"};
}

// Appends the QS_ lines of the query string and of a URL-encoded form body.
std::optional<refusal> add_query_variables(const request_head& head, const std::string& body,
                                           std::string& environment, const settings& config) {
  if (!head.query.empty() && !parse_query_string(head.query, environment, config)) {
    debug_line(config, 1, "HTTP request query string holds CR or LF");
    return refusal{400, "bad query string"};
  }
  if (!body.empty() && head.method == "POST" &&
      equals_ignore_case(header_value(head.headers, "CONTENT-TYPE"), form_content_type)) {
    if (!parse_query_string(body, environment, config)) {
      debug_line(config, 1, "HTTP request form body holds CR or LF");
      return refusal{400, "bad query string"};
    }
    debug_line(config, 2, "Parsing form variables as query string");
  }
  return std::nullopt;
}

// A client that waits for leave to send its body ("Expect: 100-continue") gets it, unless the
// head alone decides the reply, which is then written: the status it returns, or nothing when
// the body is to come.
std::optional<int> answer_expectation(std::iostream& stream, const request_head& head,
                                      body_framing framing, std::int32_t content_length,
                                      const std::string& environment,
                                      const request_services& services, const settings& config) {
  if (framing == body_framing::none || head.protocol_version != "HTTP/1.1" ||
      !equals_ignore_case(header_value(head.headers, "EXPECT"), "100-continue")) {
    return std::nullopt;
  }
  if (framing == body_framing::length && static_cast<std::size_t>(content_length) > max_body_bytes) {
    debug_line(config, 1, "Request body of " + std::to_string(content_length) + " bytes announced");
    prepare_for_output(stream);
    return write_error_response(stream, 413, "request body too large");
  }
  if (services.early_reply) {
    std::string reply;
    if (const int status = services.early_reply(environment, reply); status != 0) {
      prepare_for_output(stream);
      return write_dispatcher_response(stream, config, status, reply);
    }
  }
  if (services.transport != nullptr) {
    services.transport->send_interim_response(continue_response);
  } else {
    stream.write(continue_response.data(), static_cast<std::streamsize>(continue_response.size()));
    stream.flush();
  }
  return std::nullopt;
}

// Everything from the request line to the framed response; may throw (bad_alloc, malformed
// percent escapes, the dispatcher's own exceptions). Sets `input_consumed` once the request's
// input has been read to its end.
int serve(std::iostream& stream, const request_origin& origin, const rest_dispatcher& dispatch,
          const request_services& services, const settings& config, memory_budget& budget,
          bool& input_consumed) {
  auto fail = [&stream](const refusal& answer) {
    prepare_for_output(stream);
    return write_error_response(stream, answer.status, answer.message);
  };

  request_head head;
  if (const auto refused = read_head(stream, head, config)) {
    // A head read to its end without a body leaves nothing unread.
    input_consumed = head.complete && header_value(head.headers, "TRANSFER-ENCODING").empty() &&
                     parse_content_length(header_value(head.headers, "CONTENT-LENGTH")) <= 0;
    return fail(*refused);
  }
  const std::int32_t content_length =
      parse_content_length(header_value(head.headers, "CONTENT-LENGTH"));
  body_framing framing = body_framing::none;
  if (const auto refused = body_framing_of(head, content_length, framing, config))
    return fail(*refused);
  const bool chunked = framing == body_framing::chunked;
  input_consumed = framing == body_framing::none;
  // A chunked body's length is known once it has been read; its environment is built then.
  std::string environment =
      build_environment(head, origin, chunked ? 0 : content_length, !chunked, config);

  if (const auto answered = answer_expectation(stream, head, framing, content_length, environment,
                                               services, config)) {
    return *answered;
  }

  memory_budget::lease body_charge = budget.empty_lease();
  std::string body;
  const body_limits limits{max_body_bytes, budget_bytes_per_body_byte, budget_wait};
  const body_outcome outcome =
      read_request_body(stream, framing, content_length > 0 ? static_cast<std::size_t>(content_length) : 0,
                        limits, body_charge, body);
  if (outcome != body_outcome::complete) {
    const std::size_t received = body.size();
    body = std::string();
    return fail(
        body_refusal(outcome, framing, received, content_length, services.transport, config));
  }
  input_consumed = true;
  if (chunked) {
    environment =
        build_environment(head, origin, static_cast<std::int32_t>(body.size()), true, config);
  }
  dump_body(body, config);
  if (const auto refused = add_query_variables(head, body, environment, config))
    return fail(*refused);

  debug_line(config, 2, "Calling Velquor");
  std::optional<memory_budget::lease> reply_charge;  // outlives the reply it pays for
  dispatch_reply reply;
  const int status = dispatch(origin.connection_number, environment, body, reply);
  body = std::string();
  body_charge = budget.empty_lease();
  const std::string_view sent = reply.view();
  if (sent.size() <= small_reply_bytes) {
    reply_charge = budget.take_now(sent.size());
  } else {
    reply_charge = budget.take(sent.size(), budget_wait);
    if (!reply_charge) {
      debug_line(
          config, 1,
          "Memory budget spent; refusing a reply of " + std::to_string(sent.size()) + " bytes");
      reply = dispatch_reply();
      return fail(refusal{503, "server busy, try again later"});
    }
  }
  prepare_for_output(stream);
  return write_dispatcher_response(stream, config, status, sent);
}

}  // namespace

std::int32_t parse_content_length(std::string_view text) {
  std::size_t position = 0;
  while (position < text.size() &&
         (text[position] == ' ' || (text[position] >= '\t' && text[position] <= '\r'))) {
    ++position;
  }
  bool negative = false;
  if (position < text.size() && (text[position] == '+' || text[position] == '-')) {
    negative = text[position] == '-';
    ++position;
  }
  // Accumulate as a negative number so that INT32_MIN itself is reachable.
  std::int64_t value = 0;
  for (; position < text.size() && text[position] >= '0' && text[position] <= '9'; ++position) {
    value = std::max<std::int64_t>(value * 10 - (text[position] - '0'), INT32_MIN);
  }
  if (negative) return static_cast<std::int32_t>(value);
  return value < -INT32_MAX ? INT32_MAX : static_cast<std::int32_t>(-value);
}

int serve_http_request(std::iostream& stream, const request_origin& origin,
                       const rest_dispatcher& dispatch, const request_services& services) {
  const settings& config = services.config != nullptr ? *services.config : default_settings;
  std::optional<memory_budget> unlimited;  // a request served without a budget charges this one
  if (services.budget == nullptr) unlimited.emplace(std::numeric_limits<std::size_t>::max());
  memory_budget& budget = services.budget != nullptr ? *services.budget : *unlimited;
  bool input_consumed = false;
  int result = 500;
  try {
    debug_line(config, 2, "Begin HTTP Request");
    result = serve(stream, origin, dispatch, services, config, budget, input_consumed);
  } catch (const std::bad_alloc&) {
    send_fixed_reply(stream, out_of_memory_reply);
  } catch (...) {
    send_fixed_reply(stream, unknown_error_reply);
  }
  if (!input_consumed && services.transport != nullptr) {
    try {
      services.transport->discard_unread_input(unread_input_drain_time);
    } catch (...) {
      // The connection is closed next in any case.
    }
  }
  return result;
}

}  // namespace ombrix
