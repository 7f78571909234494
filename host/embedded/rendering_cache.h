// Renderings of single items of one account that callers made (item_text_sink::rendering), kept
// for reuse, each tagged with the account's change generation of the snapshot the item was read
// in, as the listing cache keeps listings: a rendering stored for the generation a later read
// transaction sees was made from exactly the text that transaction would read. Bounded in
// entries and in bytes; the least recently used go first. Thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix {

class rendering_cache {
 public:
  // At most `max_entries` renderings and `max_bytes` bytes in all; a rendering larger than a
  // quarter of `max_bytes` is not kept.
  rendering_cache(std::size_t max_entries, std::size_t max_bytes);
  rendering_cache(const rendering_cache&) = delete;
  rendering_cache& operator=(const rendering_cache&) = delete;

  // The rendering of item `id_key` of file `file_key` (both as stored) kept at `generation`,
  // or null.
  std::shared_ptr<const std::string> find(std::string_view file_key, std::string_view id_key,
                                          std::int64_t generation);
  // Keeps `rendering` for the item at `generation`. Renderings of older generations are dropped
  // on the way; one older than a rendering already kept is not stored.
  void store(std::string_view file_key, std::string_view id_key, std::int64_t generation,
             std::shared_ptr<const std::string> rendering);

  // The largest rendering store keeps.
  std::size_t max_rendering_bytes() const { return max_bytes_ / 4; }

  std::size_t size() const;   // renderings kept
  std::size_t bytes() const;  // their bytes in all

 private:
  struct entry {
    std::string file_key;
    std::string id_key;
    std::int64_t generation;
    std::shared_ptr<const std::string> rendering;
    std::uint64_t last_use;
  };
  void drop(std::size_t index);  // REQUIRES: mutex_ held

  const std::size_t max_entries_;
  const std::size_t max_bytes_;
  mutable std::mutex mutex_;
  std::vector<entry> entries_;  // guarded by mutex_, as are the two below
  std::size_t bytes_ = 0;
  std::uint64_t uses_ = 0;
};

}  // namespace ombrix
