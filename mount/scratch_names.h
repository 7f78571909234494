#pragma once
// The scratch-file rule: names editors use for swap, backup and probe files live only in the
// mount's memory and never reach the account. A name is scratch when it starts with ".", ends
// with "~", is enclosed in "#...#", or is one of vim's write probes (4913, 5036, ... in steps of
// 123). Pure function, thread safe.

#include <string_view>

namespace ombrix::mount {

bool is_scratch_name(std::string_view name);

}  // namespace ombrix::mount
