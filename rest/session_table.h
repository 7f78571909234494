// The session table: session id -> shared session record, for the life of the process.
// Bounded: beyond `capacity` sessions the least recently used one is ended, and its client's
// next request is answered as for any unknown session (a new login is required).
// Thread-safe: each operation takes session_lock_ for its own duration only.
#pragma once

#include <cstddef>
#include <list>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "rest/kelm_info.h"

namespace ombrix {

class session_table {
 public:
  // Sessions kept at most. With the login's texts bounded, a few KiB each.
  static constexpr std::size_t default_capacity = 4096;

  explicit session_table(std::size_t capacity = default_capacity) : capacity_(capacity) {}
  session_table(const session_table&) = delete;
  session_table& operator=(const session_table&) = delete;

  // The record of `session_id`, or null when the id is not in the table; a found session
  // becomes the most recently used. The record never changes after add_session, so the caller
  // reads it without the lock.
  std::shared_ptr<const kelm_info> find_session(std::string_view session_id);

  // Inserts the pair; when the id is already present the existing entry is kept. Ends the
  // least recently used session when the table would exceed its capacity.
  void add_session(const std::string& session_id, std::shared_ptr<const kelm_info> record);

  // Erases the entry of `session_id`; an unknown id is no error. Requests that still hold the
  // record keep it alive until they end.
  void remove_session(std::string_view session_id);

  std::size_t session_count() const;

 private:
  // Held only inside the four operations above, never across a host call.
  mutable std::mutex session_lock_;
  struct entry {
    std::string session_id;
    std::shared_ptr<const kelm_info> record;
  };
  using use_order = std::list<entry>;

  const std::size_t capacity_;
  // Guarded by session_lock_: the sessions, most recently used first, and their index.
  use_order by_use_;
  std::map<std::string, use_order::iterator, std::less<>> sessions_;
};

}  // namespace ombrix
