// Diagnostic lines on standard error. Thread-safe: each line leaves in one write, so lines of
// concurrent requests never interleave within a line.
#pragma once

#include <string_view>

#include "base/settings.h"

namespace ombrix {

// Writes `line` followed by a newline to standard error as one piece and flushes it.
void write_diagnostic(std::string_view line);

// Writes the line only when diagnostics of `level` (1 or 2) are enabled in `config`.
void debug_line(const settings& config, int level, std::string_view line);

}  // namespace ombrix
