// The store the hosts of this process use, chosen once at start-up: the embedded SQLite store
// in the data root, or a store in a PostgreSQL database. main reads OMBRIX_STORE, builds a
// host_store_choice from it and owns the opened host_store; everything below gets it passed.
// Thread-safe: create may be called from any number of threads.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "base/settings.h"
#include "host/velquor_base.h"

namespace ombrix {

class pg_store;

// What main read from the environment.
struct host_store_choice {
  // A libpq connection text (postgresql://..., postgres://..., key=value words such as
  // service=NAME); empty: the embedded store.
  std::string store;
};

// Why the chosen store cannot be used: one sentence for standard error.
class host_store_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class host_store {
 public:
  // Opens the store `choice` names: for PostgreSQL, checks the connection text, connects and
  // prepares the database (the data root is neither read nor created). Throws host_store_error.
  static std::shared_ptr<host_store> open(const host_store_choice& choice);

  // A connected host object of the generation config.host_version names (71 or 80) for
  // `server`, as create_host_server.
  std::shared_ptr<velquor_base> create(const settings& config, const std::string& server) const;

  // The PostgreSQL store, or null for the embedded one.
  const std::shared_ptr<pg_store>& postgresql() const { return postgresql_; }

 private:
  std::shared_ptr<pg_store> postgresql_;
};

}  // namespace ombrix
