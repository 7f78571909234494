// Serialises the changes of one item against a rename of it. A rename is three host calls
// (read, create under the new id, delete the old id); a write landing between the read and the
// delete would be answered and then lost, and two renames of one item would leave two copies.
// Writes, creates, deletes and renames therefore hold the lock of every id they change for the
// whole of their host calls. Reads take no lock.
//
// Locks are striped: ids map by hash (account, file and id, letter case ignored) onto a fixed
// set of mutexes, so two ids may share one and wait for each other, never the reverse. A rename
// takes its two stripes in index order, so no two requests can wait on each other in a circle.
// Thread-safe. Guards the requests of this process only, not other processes on the same data.
#pragma once

#include <array>
#include <cstddef>
#include <mutex>
#include <string_view>

#include "host/text.h"

namespace ombrix {

class item_lock_table {
 public:
  static constexpr std::size_t stripe_count = 256;

  // Holds one or two stripes until destroyed. Movable, not copyable.
  class guard {
   public:
    guard(guard&&) noexcept = default;
    guard& operator=(guard&&) noexcept = default;
    guard(const guard&) = delete;
    guard& operator=(const guard&) = delete;

   private:
    friend class item_lock_table;
    guard(std::unique_lock<std::mutex> first, std::unique_lock<std::mutex> second)
        : first_(std::move(first)), second_(std::move(second)) {}
    std::unique_lock<std::mutex> first_;
    std::unique_lock<std::mutex> second_;  // unowned when both ids share a stripe
  };

  item_lock_table() = default;
  item_lock_table(const item_lock_table&) = delete;
  item_lock_table& operator=(const item_lock_table&) = delete;

  // Blocks until the id's stripe is free.
  guard lock(std::string_view account, std::u16string_view file, std::u16string_view item);
  // Blocks until both ids' stripes are free; takes them in a fixed order.
  guard lock_pair(std::string_view account, std::u16string_view file,
                  std::u16string_view first_item, std::u16string_view second_item);

  // The stripe an id maps to; exposed for tests.
  static std::size_t stripe_of(std::string_view account, std::u16string_view file,
                               std::u16string_view item);

 private:
  std::array<std::mutex, stripe_count> stripes_;
};

}  // namespace ombrix
