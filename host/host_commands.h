// The subroutines and commands the hosts of this project run for call_subroutine, over any
// velquor_base: COPY is the host's own copy_item, so every store runs it in its one transaction.
// Thread-safe as the host object is (one per request).
#pragma once

#include "host/text.h"
#include "host/velquor_base.h"

namespace ombrix {

// Runs subroutine `name` with its two arguments on `host` and returns its answer:
// - ECHO answers `second` unchanged;
// - FTFSCMD runs command `first` with the parameter text `second` (line 1 the file, line 2 the
//   item id, line 3 option names and line 4 their values, both separated by U+F8FD):
//   ECHO answers "ECHO", CR LF, the parameter text; COPY copies the item to option `to` in the
//   same file (option `overwrite` "1" replaces an existing target) and answers
//   "1 item copied.", CR LF, the target id.
// Anything else fails with host error 205; COPY fails as host.copy_item, and with 203 when
// `to` is missing or empty.
text run_host_subroutine(velquor_base& host, const text& name, const text& first,
                         const text& second);

// Lines 1 and 2 of a command parameter text arrive as the bytes of their 8-bit form, one unit
// per byte. Returns the name those bytes encode in UTF-8, or `units` unchanged when they are not
// such bytes (a unit above 0xFF, or not valid UTF-8).
text name_from_parameter_line(const text& units);

}  // namespace ombrix
