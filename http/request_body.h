// The request body reader: reads a body framed by its Content-Length or in chunked transfer
// coding, charging the memory budget for each piece before the piece is taken from the stream.
// Runs on the request's thread; shares nothing but the budget, which is thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <istream>
#include <string>

#include "http/memory_budget.h"

namespace ombrix {

// How the body of a request is framed on the wire.
enum class body_framing { none, length, chunked };

// The bounds a body is read under.
struct body_limits {
  std::size_t max_bytes = 0;              // a longer body is refused (too_large)
  std::size_t budget_bytes_per_byte = 1;  // what each body byte costs the budget
  std::chrono::milliseconds budget_wait{0};
};

enum class body_outcome {
  complete,     // the whole body is in `body`
  ended_early,  // the input ended first (close, failure or time-out)
  malformed,    // a chunk stream that breaks the chunked coding
  too_large,    // more than max_bytes
  over_budget,  // the budget could not take the next piece in time
};

// Reads the body into `body`: for `length`, exactly `length` bytes (one byte beyond max_bytes
// tells a body that is too large from one that ends early); for `chunked`, the chunks in order,
// chunk extensions ignored and trailer lines read and dropped. Every piece is charged to
// `charge`, at budget_bytes_per_byte per byte, once its first byte has arrived, so a body costs
// nothing until its bytes come. The body buffer grows with the bytes received, never with what
// a length announces. On any outcome but complete, `body` holds what was read so far.
body_outcome read_request_body(std::istream& stream, body_framing framing, std::size_t length,
                               const body_limits& limits, memory_budget::lease& charge,
                               std::string& body);

}  // namespace ombrix
