#include "mount/scratch_names.h"

namespace ombrix::mount {

bool is_scratch_name(std::string_view name) {
  if (name.empty()) return false;
  if (name.front() == '.' || name.back() == '~') return true;
  if (name.size() >= 3 && name.front() == '#' && name.back() == '#') return true;
  if (name.size() > 9) return false;
  long number = 0;
  for (const char c : name) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  if (name.size() > 1 && name.front() == '0') return false;
  return number >= 4913 && (number - 4913) % 123 == 0;
}

}  // namespace ombrix::mount
