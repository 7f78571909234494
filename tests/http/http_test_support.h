// Shared helpers of the HTTP unit tests: the 400 reply and a scoped debug level.
// Not thread-safe: debug_level is process-wide.
#pragma once

#include <string>
#include <string_view>

#include "base/settings.h"
#include "tests/expected_bytes.h"

namespace ombrix::test {

// The HTTP layer's own 400 reply with `message`.
inline std::string bad_request(std::string_view message) { return http_error(400, message); }

// Sets debug_level for one scope and restores it afterwards.
class debug_level_guard {
 public:
  explicit debug_level_guard(int level) : saved_(debug_level) { debug_level = level; }
  ~debug_level_guard() { debug_level = saved_; }
  debug_level_guard(const debug_level_guard&) = delete;
  debug_level_guard& operator=(const debug_level_guard&) = delete;

 private:
  int saved_;
};

}  // namespace ombrix::test
