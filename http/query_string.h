// Query-string and form decoding: turns name=value pairs into QS_ lines of the request
// environment. Pure functions (apart from the level-2 diagnostic lines); thread-safe.
#pragma once

#include <string>
#include <string_view>

#include "base/settings.h"

namespace ombrix {

// Appends one "QS_NAME=value\r\n" line per name=value pair of `query` to `environment`, in
// text order: NAME is the decoded, trimmed, upper-cased name (pairs whose name ends up empty
// are dropped), value the decoded value. Only "&" separates pairs.
// Returns false, leaving `environment` unchanged, when a kept name or value decodes to text
// holding CR or LF (it would break the line structure of the environment text).
// Throws std::runtime_error("hex to char failure") on a malformed % escape, also leaving
// `environment` unchanged. At config's level 2 each line is also echoed as a diagnostic.
[[nodiscard]] bool parse_query_string(std::string_view query, std::string& environment,
                                      const settings& config);

}  // namespace ombrix
