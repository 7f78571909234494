// Shared helpers of the HTTP unit tests: the 400 reply.
#pragma once

#include <string>
#include <string_view>

#include "base/settings.h"
#include "tests/expected_bytes.h"

namespace ombrix::test {

// The HTTP layer's own 400 reply with `message`.
inline std::string bad_request(std::string_view message) { return http_error(400, message); }

}  // namespace ombrix::test
