#include "mount/scratch_names.h"

namespace ombrix::mount {
namespace {

bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

bool is_vim_swap(std::string_view name) {
  // "." NAME ".sw" letter, NAME not empty.
  return name.size() >= 6 && name.front() == '.' && is_letter(name.back()) &&
         name.substr(name.size() - 4, 3) == ".sw";
}

bool is_vim_probe(std::string_view name) {
  if (name.empty() || name.size() > 9 || name.front() == '0') return false;
  long number = 0;
  for (const char c : name) {
    if (c < '0' || c > '9') return false;
    number = number * 10 + (c - '0');
  }
  return number >= 4913 && (number - 4913) % 123 == 0;
}

}  // namespace

bool is_lock_link_name(std::string_view name) {
  return name.size() >= 3 && name.substr(0, 2) == ".#";
}

bool is_scratch_name(std::string_view name) {
  if (is_vim_swap(name) || is_vim_probe(name) || is_lock_link_name(name)) return true;
  return name.size() >= 3 && name.front() == '#' && name.back() == '#';
}

}  // namespace ombrix::mount
