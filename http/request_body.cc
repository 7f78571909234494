#include "http/request_body.h"

#include <algorithm>
#include <optional>

namespace ombrix {
namespace {

// The body buffer grows by at most this much ahead of the bytes received, and each piece is
// charged to the budget on its own.
constexpr std::size_t body_read_step = 64 * 1024;
// Once a client has really sent this much of an announced length, the buffer takes the whole
// (bounded) length at once: the pages are touched only as bytes arrive, and the growing buffer
// is never copied.
constexpr std::size_t body_reserve_after = 1024 * 1024;
// A chunk-size line (with its extensions) and a trailer line may hold this many bytes, and all
// trailer lines together this many.
constexpr std::size_t max_chunk_line_bytes = 4096;
constexpr std::size_t max_trailer_bytes = 64 * 1024;

using traits = std::char_traits<char>;

// Appends up to `count` bytes to `body`, charging each piece once its first byte is there.
// complete when all `count` bytes came.
body_outcome read_bytes(std::streambuf& input, std::size_t count, const body_limits& limits,
                        memory_budget::lease& charge, std::string& body) {
  while (count > 0) {
    if (traits::eq_int_type(input.sgetc(), traits::eof())) return body_outcome::ended_early;
    const std::size_t step = std::min(body_read_step, count);
    if (!charge.grow(step * limits.budget_bytes_per_byte, limits.budget_wait)) {
      return body_outcome::over_budget;
    }
    const std::size_t old_size = body.size();
    body.resize(old_size + step);
    const auto received =
        static_cast<std::size_t>(input.sgetn(body.data() + old_size, static_cast<std::streamsize>(step)));
    body.resize(old_size + received);
    if (received < step) return body_outcome::ended_early;
    count -= step;
  }
  return body_outcome::complete;
}

enum class line_result { ok, ended, too_long };

// Reads one line up to LF, without its LF and a CR before it, of at most `limit` bytes.
line_result read_line(std::streambuf& input, std::string& line, std::size_t limit) {
  line.clear();
  for (;;) {
    const int c = input.sbumpc();
    if (traits::eq_int_type(c, traits::eof())) return line_result::ended;
    if (c == '\n') break;
    line.push_back(static_cast<char>(c));
    if (line.size() > limit + 1) return line_result::too_long;  // room for the CR
  }
  if (line.size() > limit && line.back() != '\r') return line_result::too_long;
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line_result::ok;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// The size of a chunk-size line: hexadecimal digits, then nothing or (after optional blanks) a
// ";" and extensions, which are ignored. Saturates just above `ceiling`; nothing when the line
// is not of that form.
std::optional<std::size_t> chunk_size(std::string_view line, std::size_t ceiling) {
  std::size_t size = 0;
  std::size_t position = 0;
  for (; position < line.size() && hex_digit(line[position]) >= 0; ++position) {
    size = std::min(size * 16 + static_cast<std::size_t>(hex_digit(line[position])), ceiling + 1);
  }
  if (position == 0) return std::nullopt;
  while (position < line.size() && (line[position] == ' ' || line[position] == '\t')) ++position;
  if (position < line.size() && line[position] != ';') return std::nullopt;
  return size;
}

body_outcome read_chunked(std::streambuf& input, const body_limits& limits,
                          memory_budget::lease& charge, std::string& body) {
  std::string line;
  for (;;) {
    const line_result size_line = read_line(input, line, max_chunk_line_bytes);
    if (size_line == line_result::ended) return body_outcome::ended_early;
    if (size_line == line_result::too_long) return body_outcome::malformed;
    const std::optional<std::size_t> size = chunk_size(line, limits.max_bytes);
    if (!size) return body_outcome::malformed;
    if (*size == 0) break;
    if (*size > limits.max_bytes - body.size()) return body_outcome::too_large;
    if (const body_outcome read = read_bytes(input, *size, limits, charge, body);
        read != body_outcome::complete) {
      return read;
    }
    // The chunk's data ends with a line end of its own (CR LF, or LF alone).
    int c = input.sbumpc();
    if (c == '\r') c = input.sbumpc();
    if (traits::eq_int_type(c, traits::eof())) return body_outcome::ended_early;
    if (c != '\n') return body_outcome::malformed;
  }
  // Trailer lines up to the empty line; they carry nothing the request needs.
  std::size_t trailer_budget = max_trailer_bytes;
  for (;;) {
    const line_result trailer =
        read_line(input, line, std::min(max_chunk_line_bytes, trailer_budget));
    if (trailer == line_result::ended) return body_outcome::ended_early;
    if (trailer == line_result::too_long) return body_outcome::malformed;
    if (line.empty()) return body_outcome::complete;
    trailer_budget -= line.size();
  }
}

}  // namespace

body_outcome read_request_body(std::istream& stream, body_framing framing, std::size_t length,
                               const body_limits& limits, memory_budget::lease& charge,
                               std::string& body) {
  std::streambuf& input = *stream.rdbuf();
  switch (framing) {
    case body_framing::none:
      return body_outcome::complete;
    case body_framing::chunked:
      return read_chunked(input, limits, charge, body);
    case body_framing::length:
      break;
  }
  const std::size_t wanted = std::min(length, limits.max_bytes + 1);
  const std::size_t first = std::min(wanted, body_reserve_after);
  body_outcome outcome = read_bytes(input, first, limits, charge, body);
  if (outcome == body_outcome::complete && wanted > first) {
    body.reserve(wanted);
    outcome = read_bytes(input, wanted - first, limits, charge, body);
  }
  if (outcome == body_outcome::complete && body.size() > limits.max_bytes) {
    return body_outcome::too_large;
  }
  return outcome;
}

}  // namespace ombrix
