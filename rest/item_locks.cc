#include "rest/item_locks.h"

#include <cstdint>
#include <utility>

namespace ombrix {

namespace {

// FNV-1a over the units, ASCII letters folded to upper case: hosts that match names without
// regard to case then still map both spellings of one name onto one stripe.
constexpr std::uint64_t fnv_offset = 14695981039346656037ull;
constexpr std::uint64_t fnv_prime = 1099511628211ull;

constexpr std::uint32_t folded(std::uint32_t unit) {
  return unit >= 'a' && unit <= 'z' ? unit - ('a' - 'A') : unit;
}

template <typename Units>
std::uint64_t mix(std::uint64_t hash, const Units& units) {
  for (const auto unit : units) {
    hash ^= folded(static_cast<std::uint32_t>(unit));
    hash *= fnv_prime;
  }
  // A separator that no unit folds to, so ("AB", "C") and ("A", "BC") differ.
  hash ^= 0x10000u;
  return hash * fnv_prime;
}

}  // namespace

std::size_t item_lock_table::stripe_of(std::string_view account, std::u16string_view file,
                                       std::u16string_view item) {
  std::uint64_t hash = fnv_offset;
  hash = mix(hash, account);
  hash = mix(hash, file);
  hash = mix(hash, item);
  return static_cast<std::size_t>(hash % stripe_count);
}

item_lock_table::guard item_lock_table::lock(std::string_view account, std::u16string_view file,
                                             std::u16string_view item) {
  return guard(std::unique_lock(stripes_[stripe_of(account, file, item)]), {});
}

item_lock_table::guard item_lock_table::lock_pair(std::string_view account,
                                                  std::u16string_view file,
                                                  std::u16string_view first_item,
                                                  std::u16string_view second_item) {
  std::size_t low = stripe_of(account, file, first_item);
  std::size_t high = stripe_of(account, file, second_item);
  if (low == high) return guard(std::unique_lock(stripes_[low]), {});
  if (low > high) std::swap(low, high);
  std::unique_lock first(stripes_[low]);
  std::unique_lock second(stripes_[high]);
  return guard(std::move(first), std::move(second));
}

}  // namespace ombrix
