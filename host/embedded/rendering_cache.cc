#include "host/embedded/rendering_cache.h"

#include <algorithm>
#include <utility>

namespace ombrix {

rendering_cache::rendering_cache(std::size_t max_entries, std::size_t max_bytes)
    : max_entries_(max_entries), max_bytes_(max_bytes) {}

std::shared_ptr<const std::string> rendering_cache::find(std::string_view file_key,
                                                         std::string_view id_key,
                                                         std::int64_t generation) {
  const std::lock_guard lock(mutex_);
  for (entry& kept : entries_) {
    if (kept.generation == generation && kept.id_key == id_key && kept.file_key == file_key) {
      kept.last_use = ++uses_;
      return kept.rendering;
    }
  }
  return nullptr;
}

void rendering_cache::store(std::string_view file_key, std::string_view id_key,
                            std::int64_t generation,
                            std::shared_ptr<const std::string> rendering) {
  if (!rendering || max_entries_ == 0 || rendering->size() > max_rendering_bytes()) return;
  const std::lock_guard lock(mutex_);
  for (std::size_t i = entries_.size(); i-- > 0;) {
    const entry& kept = entries_[i];
    if (kept.generation > generation) return;  // this reader's snapshot is outdated
    if (kept.generation < generation || (kept.id_key == id_key && kept.file_key == file_key)) {
      drop(i);
    }
  }
  while (!entries_.empty() &&
         (entries_.size() >= max_entries_ || bytes_ + rendering->size() > max_bytes_)) {
    const auto oldest = std::min_element(
        entries_.begin(), entries_.end(),
        [](const entry& a, const entry& b) { return a.last_use < b.last_use; });
    drop(static_cast<std::size_t>(oldest - entries_.begin()));
  }
  bytes_ += rendering->size();
  entries_.push_back(
      {std::string(file_key), std::string(id_key), generation, std::move(rendering), ++uses_});
}

void rendering_cache::drop(std::size_t index) {
  bytes_ -= entries_[index].rendering->size();
  entries_[index] = std::move(entries_.back());
  entries_.pop_back();
}

std::size_t rendering_cache::size() const {
  const std::lock_guard lock(mutex_);
  return entries_.size();
}

std::size_t rendering_cache::bytes() const {
  const std::lock_guard lock(mutex_);
  return bytes_;
}

}  // namespace ombrix
