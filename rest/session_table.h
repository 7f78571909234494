// The session table: session id -> shared session record, for the life of the process.
// Thread-safe: each operation takes session_lock_ for its own duration only.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "rest/kelm_info.h"

namespace ombrix {

class session_table {
 public:
  session_table() = default;
  session_table(const session_table&) = delete;
  session_table& operator=(const session_table&) = delete;

  // The record of `session_id`, or null when the id is not in the table. The record never
  // changes after add_session, so the caller reads it without the lock.
  std::shared_ptr<const kelm_info> find_session(std::string_view session_id) const;

  // Inserts the pair; when the id is already present the existing entry is kept.
  void add_session(const std::string& session_id, std::shared_ptr<const kelm_info> record);

  // Erases the entry of `session_id`; an unknown id is no error. Requests that still hold the
  // record keep it alive until they end.
  void remove_session(std::string_view session_id);

  std::size_t session_count() const;

 private:
  // Held only inside the four operations above, never across a host call.
  mutable std::mutex session_lock_;
  // Guarded by session_lock_.
  std::map<std::string, std::shared_ptr<const kelm_info>, std::less<>> sessions_;
};

// The one table of the running server, created on first use and kept until the process ends.
session_table& process_session_table();

}  // namespace ombrix
