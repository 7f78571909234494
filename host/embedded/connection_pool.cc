#include "host/embedded/connection_pool.h"

#include <utility>

#include "host/embedded/account_schema.h"
#include "host/host_errors.h"

namespace ombrix {

connection_pool::connection_pool(std::string path, text account, options settings)
    : path_(std::move(path)), account_(std::move(account)), options_(std::move(settings)) {}

std::unique_ptr<sqlite_connection> connection_pool::borrow() {
  {
    std::lock_guard<std::mutex> lock(pool_mutex_);
    if (!idle_.empty()) {
      std::unique_ptr<sqlite_connection> connection = std::move(idle_.back());
      idle_.pop_back();
      return connection;
    }
  }
  auto connection = std::make_unique<sqlite_connection>(path_, false);
  configure_connection(*connection, options_.busy_timeout_milliseconds);
  return connection;
}

void connection_pool::give_back(std::unique_ptr<sqlite_connection> connection) {
  // A connection still inside a transaction (a failed rollback) is not reused.
  if (connection->in_transaction()) return;
  std::lock_guard<std::mutex> lock(pool_mutex_);
  if (idle_.size() < options_.max_idle) idle_.push_back(std::move(connection));
}

std::size_t connection_pool::idle_count() {
  std::lock_guard<std::mutex> lock(pool_mutex_);
  return idle_.size();
}

connection_pool::clock::time_point connection_pool::now() const {
  return platform::now_of(options_.calls);
}

void connection_pool::pause(std::chrono::milliseconds duration) const {
  platform::sleep_of(options_.calls, duration);
}

void connection_pool::storage_failure(const std::string& what) const {
  throw_host_error(host_error::storage_failure,
                   describe({u"Storage failure in account '", account_, u"': ",
                             from_utf8_lenient(what), u"."}));
}

}  // namespace ombrix
