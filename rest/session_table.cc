#include "rest/session_table.h"

#include <iterator>
#include <utility>

namespace ombrix {

std::shared_ptr<const kelm_info> session_table::find_session(std::string_view session_id) {
  std::lock_guard<std::mutex> guard(session_lock_);
  auto found = sessions_.find(session_id);
  if (found == sessions_.end()) return nullptr;
  by_use_.splice(by_use_.begin(), by_use_, found->second);
  return found->second->record;
}

void session_table::add_session(const std::string& session_id,
                                std::shared_ptr<const kelm_info> record) {
  use_order ended;  // records freed after the lock is dropped
  std::lock_guard<std::mutex> guard(session_lock_);
  if (sessions_.find(session_id) != sessions_.end()) return;
  by_use_.push_front(entry{session_id, std::move(record)});
  sessions_.emplace(session_id, by_use_.begin());
  while (sessions_.size() > capacity_ && !by_use_.empty()) {
    sessions_.erase(by_use_.back().session_id);
    ended.splice(ended.begin(), by_use_, std::prev(by_use_.end()));
  }
}

void session_table::remove_session(std::string_view session_id) {
  use_order released;
  std::lock_guard<std::mutex> guard(session_lock_);
  auto found = sessions_.find(session_id);
  if (found == sessions_.end()) return;
  // The record may be the last reference; free it after the lock is dropped.
  released.splice(released.begin(), by_use_, found->second);
  sessions_.erase(found);
}

std::size_t session_table::session_count() const {
  std::lock_guard<std::mutex> guard(session_lock_);
  return sessions_.size();
}

}  // namespace ombrix
