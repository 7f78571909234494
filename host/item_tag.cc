#include "host/item_tag.h"

#include <algorithm>
#include <cstdint>

namespace ombrix {
namespace {

// Two independent 64-bit hashes over the units' little-endian bytes: FNV-1a, and a
// multiply-rotate hash finished with a 64-bit avalanche step. Their digits side by side are the
// tag.
std::uint64_t avalanche(std::uint64_t x) {
  x ^= x >> 33;
  x *= 0xff51afd7ed558ccdull;
  x ^= x >> 33;
  x *= 0xc4ceb9fe1a85ec53ull;
  x ^= x >> 33;
  return x;
}

void append_hex(std::string& out, std::uint64_t value) {
  static constexpr char digits[] = "0123456789abcdef";
  for (int shift = 60; shift >= 0; shift -= 4) out.push_back(digits[(value >> shift) & 0xF]);
}

}  // namespace

std::string item_tag(std::u16string_view content) {
  std::uint64_t fnv = 14695981039346656037ull;
  std::uint64_t mixed = 0x9e3779b97f4a7c15ull ^ content.size();
  for (const char16_t unit : content) {
    fnv = (fnv ^ (unit & 0xFFu)) * 1099511628211ull;
    fnv = (fnv ^ (static_cast<unsigned>(unit) >> 8)) * 1099511628211ull;
    mixed = (mixed ^ unit) * 0x87c37b91114253d5ull;
    mixed = (mixed << 31) | (mixed >> 33);
  }
  std::string tag;
  tag.reserve(32);
  append_hex(tag, avalanche(fnv ^ content.size()));
  append_hex(tag, avalanche(mixed));
  return tag;
}

bool item_condition::holds(const text* current) const {
  if (current == nullptr) return !must_exist && match.empty();
  if (must_be_absent) return false;
  if (match.empty() && none_match.empty()) return true;
  const std::string tag = item_tag(*current);
  if (!match.empty() && std::find(match.begin(), match.end(), tag) == match.end()) return false;
  return std::find(none_match.begin(), none_match.end(), tag) == none_match.end();
}

}  // namespace ombrix
