#include "host/embedded/listing_cache.h"

#include <algorithm>
#include <utility>

namespace ombrix {

listing_cache::listing_cache(std::size_t max_entries, std::size_t max_units)
    : max_entries_(max_entries), max_units_(max_units) {}

std::shared_ptr<const text> listing_cache::find(const key& listed, std::int64_t generation) {
  const std::lock_guard lock(mutex_);
  for (entry& kept : entries_) {
    if (kept.listed == listed && kept.generation == generation) {
      kept.last_use = ++uses_;
      return kept.listing;
    }
  }
  return nullptr;
}

void listing_cache::store(const key& listed, std::int64_t generation,
                          std::shared_ptr<const text> listing) {
  if (!listing || max_entries_ == 0 || listing->size() > max_units_ / 4) return;
  const std::lock_guard lock(mutex_);
  for (std::size_t i = entries_.size(); i-- > 0;) {
    if (entries_[i].generation > generation) return;  // this reader's snapshot is outdated
    if (entries_[i].generation < generation || entries_[i].listed == listed) drop(i);
  }
  while (!entries_.empty() &&
         (entries_.size() >= max_entries_ || units_ + listing->size() > max_units_)) {
    const auto oldest = std::min_element(
        entries_.begin(), entries_.end(),
        [](const entry& a, const entry& b) { return a.last_use < b.last_use; });
    drop(static_cast<std::size_t>(oldest - entries_.begin()));
  }
  units_ += listing->size();
  entries_.push_back({listed, generation, std::move(listing), ++uses_});
}

void listing_cache::drop(std::size_t index) {
  units_ -= entries_[index].listing->size();
  entries_[index] = std::move(entries_.back());
  entries_.pop_back();
}

std::size_t listing_cache::size() const {
  const std::lock_guard lock(mutex_);
  return entries_.size();
}

std::size_t listing_cache::units() const {
  const std::lock_guard lock(mutex_);
  return units_;
}

}  // namespace ombrix
