#include "http/request_handler.h"

#include <algorithm>
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <istream>
#include <map>
#include <new>
#include <optional>
#include <sstream>

#include "base/text_helpers.h"
#include "http/memory_budget.h"
#include "http/query_string.h"
#include "http/response_writer.h"
#include "http/text_dump.h"
#include "base/diagnostics.h"
#include "base/settings.h"

namespace ombrix {
namespace {

constexpr std::string_view form_content_type = "application/x-www-form-urlencoded";

// The body buffer grows by at most this much ahead of the bytes received, so a client that
// announces a huge Content-Length and sends little costs little.
constexpr std::size_t body_read_step = 64 * 1024;
constexpr std::size_t body_reserve_after = 1024 * 1024;

// The largest body a request may carry: room for the JSON of a 64 MiB item with its escapes.
// A larger one is refused once its bytes go past the limit; one that ends early is answered as
// any short body.
constexpr std::size_t max_body_bytes = 128 * 1024 * 1024;
// What serving a body costs the process per byte: the body, the item text (two bytes a
// character) and the host's own copy.
constexpr std::size_t budget_bytes_per_body_byte = 4;
// How long a request waits for the memory budget before it is refused.
constexpr std::chrono::milliseconds budget_wait{2000};

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

// Reads up to `length` bytes; fewer when the stream ends first.
std::string read_body(std::istream& stream, std::size_t length) {
  std::string body;
  bool reserved = false;
  while (body.size() < length) {
    // Once a client has really sent a good part, the buffer takes the whole (bounded) length at
    // once: the pages are touched only as bytes arrive, and the growing buffer is never copied.
    if (!reserved && body.size() >= body_reserve_after) {
      body.reserve(length);
      reserved = true;
    }
    const std::size_t old_size = body.size();
    const std::size_t step = std::min(body_read_step, length - old_size);
    body.resize(old_size + step);
    stream.read(body.data() + old_size, static_cast<std::streamsize>(step));
    const auto received = static_cast<std::size_t>(stream.gcount());
    if (received < step) {
      body.resize(old_size + received);
      break;
    }
  }
  return body;
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

// Appends "NAME=value\r\n" and, at level 2, echoes it.
void add_variable(std::string& environment, std::string_view name, std::string_view value) {
  const std::size_t start = environment.size();
  environment.append(name).append("=").append(value);
  if (debug_enabled(2)) {
    write_diagnostic("  " + std::string(std::string_view(environment).substr(start)));
  }
  environment.append("\r\n");
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
};

// Reads the request line and the header lines into `head`, checking them in order: the size of
// the head, the method, the path, each header line, the Host header. Returns the refusal of the
// first check that fails.
std::optional<refusal> read_head(std::istream& stream, request_head& head) {
  std::size_t head_budget = max_head_bytes;
  std::string request_line;
  if (read_line(stream, request_line, head_budget) == line_read::too_long) {
    debug_line(1, "HTTP request line too long");
    return refusal{413, "request header too large"};
  }
  if (debug_enabled(1)) write_diagnostic("HTTP request: " + request_line);

  std::string url;
  {
    std::istringstream words(request_line);
    words >> head.method >> url >> head.protocol_version;
  }
  if (!is_allowed_method(head.method)) {
    debug_line(1, "Illegal HTTP method " + head.method);
    return refusal{405, {}};
  }

  const std::size_t question = url.find('?');
  head.path = url.substr(0, question);
  if (question != std::string::npos) head.query = url.substr(question + 1);
  if (head.path.empty() || head.path.front() != '/') {
    debug_line(1, "Path missing from URL");
    return refusal{400, "path missing"};
  }

  debug_line(2, "HTTP request headers:");
  std::string line;
  for (;;) {
    const line_read result = read_line(stream, line, head_budget);
    if (result == line_read::too_long) {
      debug_line(1, "HTTP request headers too large");
      return refusal{413, "request header too large"};
    }
    if (result == line_read::none || line.empty()) break;
    const std::size_t colon = line.find(':');
    if (colon == std::string::npos) {
      debug_line(1, "HTTP request invalid header line: " + line);
      return refusal{400, "bad header"};
    }
    std::string name = line.substr(0, colon);
    to_upper(name);
    std::string value = line.substr(colon + 1);
    trim(value);
    if (debug_enabled(2)) write_diagnostic("  HTTP_" + name + ": " + value);
    head.headers.emplace(std::move(name), std::move(value));  // the first occurrence wins
  }

  if (header_value(head.headers, "HOST").empty()) {
    debug_line(1, "HTTP request missing HOST header!");
    return refusal{400, "missing HOST header"};
  }
  return std::nullopt;
}

// The request environment text without its QS_ lines: the connection's and the request's
// variables in their fixed order, then one HTTP_ line per header.
std::string build_environment(const request_head& head, const request_origin& origin,
                              std::int32_t content_length) {
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

// Reads the announced body into `body`; refuses a body that ends early. At level 2 the body is
// dumped (or said to be binary).
std::optional<refusal> read_request_body(std::istream& stream, std::int32_t content_length,
                                         std::string& body) {
  if (content_length > 0) {
    // One byte beyond the limit tells a body that is too large from one that ends early.
    body = read_body(stream, std::min<std::size_t>(static_cast<std::size_t>(content_length),
                                                   max_body_bytes + std::size_t{1}));
    if (body.size() > max_body_bytes) {
      debug_line(1, "Request body exceeds " + std::to_string(max_body_bytes) + " bytes");
      body = std::string();
      return refusal{413, "request body too large"};
    }
    if (body.size() != static_cast<std::size_t>(content_length)) {
      debug_line(1, "Actual content size " + std::to_string(body.size()) +
                        " differs from Content-Length header " + std::to_string(content_length));
      return refusal{400, "bad content-length"};
    }
  }
  if (debug_enabled(2) && !body.empty()) {
    if (body.front() == '{' || body.back() == '\n') {
      write_diagnostic("HTTP request body:");
      dump_text_lines(body);
    } else {
      write_diagnostic("  body appears to contain binary data");
    }
  }
  return std::nullopt;
}

// Appends the QS_ lines of the query string and of a URL-encoded form body.
std::optional<refusal> add_query_variables(const request_head& head, std::int32_t content_length,
                                           const std::string& body, std::string& environment) {
  if (!head.query.empty() && !parse_query_string(head.query, environment)) {
    debug_line(1, "HTTP request query string holds CR or LF");
    return refusal{400, "bad query string"};
  }
  if (content_length > 0 && head.method == "POST" &&
      equals_ignore_case(header_value(head.headers, "CONTENT-TYPE"), form_content_type)) {
    if (!parse_query_string(body, environment)) {
      debug_line(1, "HTTP request form body holds CR or LF");
      return refusal{400, "bad query string"};
    }
    debug_line(2, "Parsing form variables as query string");
  }
  return std::nullopt;
}

// Everything from the request line to the framed response; may throw (bad_alloc, malformed
// percent escapes, the dispatcher's own exceptions).
int serve(std::iostream& stream, const request_origin& origin, const rest_dispatcher& dispatch) {
  auto fail = [&stream](const refusal& answer) {
    prepare_for_output(stream);
    return write_error_response(stream, answer.status, answer.message);
  };

  request_head head;
  if (const auto refused = read_head(stream, head)) return fail(*refused);
  const std::int32_t content_length =
      parse_content_length(header_value(head.headers, "CONTENT-LENGTH"));
  std::string environment = build_environment(head, origin, content_length);
  std::string body;
  if (const auto refused = read_request_body(stream, content_length, body)) return fail(*refused);
  std::optional<memory_budget::lease> held;
  if (!body.empty()) {
    held = process_memory_budget().take(body.size() * budget_bytes_per_body_byte, budget_wait);
    if (!held) {
      debug_line(1, "Memory budget spent; refusing a body of " + std::to_string(body.size()) +
                        " bytes");
      return fail(refusal{503, "server busy, try again later"});
    }
  }
  if (const auto refused = add_query_variables(head, content_length, body, environment)) {
    return fail(*refused);
  }

  debug_line(2, "Calling Velquor");
  std::string reply;
  const int status = dispatch(origin.connection_number, environment, body, reply);
  prepare_for_output(stream);
  return write_dispatcher_response(stream, status, reply);
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
                       const rest_dispatcher& dispatch) {
  try {
    debug_line(2, "Begin HTTP Request");
    return serve(stream, origin, dispatch);
  } catch (const std::bad_alloc&) {
    send_fixed_reply(stream, out_of_memory_reply);
  } catch (...) {
    send_fixed_reply(stream, unknown_error_reply);
  }
  return 500;
}

}  // namespace ombrix
