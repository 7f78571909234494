// Listings of one account kept for reuse, each tagged with the account's change generation of
// the snapshot it was read in. Every committed change to the listed tables bumps the generation
// (triggers in the database, so changes by other processes count too); a listing stored for
// the generation a later read transaction sees is exactly what that transaction would list.
// Bounded in entries and in units; the least recently used go first. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "host/text.h"

namespace ombrix {

class listing_cache {
 public:
  // What a listing depends on besides the generation.
  struct key {
    std::int64_t section = 0;
    std::int32_t attribute = 0;
    std::int32_t max_count = 0;
    bool operator==(const key&) const = default;
  };

  // At most `max_entries` listings and `max_units` units in all; a listing longer than a
  // quarter of `max_units` is not kept.
  listing_cache(std::size_t max_entries, std::size_t max_units);
  listing_cache(const listing_cache&) = delete;
  listing_cache& operator=(const listing_cache&) = delete;

  // The listing stored for `listed` at `generation`, or null.
  std::shared_ptr<const text> find(const key& listed, std::int64_t generation);
  // Keeps `listing` for `listed` at `generation`. Listings of older generations are dropped on
  // the way; a listing older than one already kept is not stored.
  void store(const key& listed, std::int64_t generation, std::shared_ptr<const text> listing);

  std::size_t size() const;   // listings kept
  std::size_t units() const;  // their units in all

 private:
  struct entry {
    key listed;
    std::int64_t generation;
    std::shared_ptr<const text> listing;
    std::uint64_t last_use;
  };
  void drop(std::size_t index);  // REQUIRES: mutex_ held

  const std::size_t max_entries_;
  const std::size_t max_units_;
  mutable std::mutex mutex_;
  std::vector<entry> entries_;  // guarded by mutex_, as are the two below
  std::size_t units_ = 0;
  std::uint64_t uses_ = 0;
};

}  // namespace ombrix
