#include "rest/session_table.h"

#include <utility>

namespace ombrix {

std::shared_ptr<const kelm_info> session_table::find_session(std::string_view session_id) const {
  std::lock_guard<std::mutex> guard(session_lock_);
  auto found = sessions_.find(session_id);
  if (found == sessions_.end()) return nullptr;
  return found->second;
}

void session_table::add_session(const std::string& session_id,
                                std::shared_ptr<const kelm_info> record) {
  std::lock_guard<std::mutex> guard(session_lock_);
  // try_emplace leaves `record` untouched when the id is present; it dies after the lock is free.
  sessions_.try_emplace(session_id, std::move(record));
}

void session_table::remove_session(std::string_view session_id) {
  std::shared_ptr<const kelm_info> released;
  {
    std::lock_guard<std::mutex> guard(session_lock_);
    auto found = sessions_.find(session_id);
    if (found == sessions_.end()) return;
    // The record may be the last reference; free it after the lock is dropped.
    released = std::move(found->second);
    sessions_.erase(found);
  }
}

std::size_t session_table::session_count() const {
  std::lock_guard<std::mutex> guard(session_lock_);
  return sessions_.size();
}

session_table& process_session_table() {
  // Never destroyed: detached connection threads may still use it while the process ends.
  static session_table* const table = new session_table;
  return *table;
}

}  // namespace ombrix
