// Level-2 dumps of request bodies and reply texts on standard error. Thread-safe.
#pragma once

#include <cstddef>
#include <string_view>

namespace ombrix {

// Writes the first `max_lines` lines of `text`, each as its own diagnostic line preceded by two
// spaces. Lines end at LF (a CR before it is dropped); an empty piece after the final line
// break is not a line. Writes regardless of the debug level: callers check it.
void dump_text_lines(std::string_view text, std::size_t max_lines = 10);

}  // namespace ombrix
