// The store the hosts of this process use, chosen once at start-up: the embedded SQLite store
// in the data root, or a store in a PostgreSQL database. main reads OMBRIX_STORE, OMBRIX_DATA
// and OMBRIX_ACCOUNT, builds a host_store_choice from them and owns the opened host_store
// (with the embedded store's open accounts); everything below gets it passed.
// Thread-safe: create may be called from any number of threads.
#pragma once

#include <memory>
#include <stdexcept>
#include <string>

#include "base/settings.h"
#include "host/text.h"
#include "host/velquor_base.h"

namespace ombrix {

class account_stores;
class postgresql_hosts;

// What main read from the environment.
struct host_store_choice {
  // A libpq connection text (postgresql://..., postgres://..., key=value words such as
  // service=NAME); empty: the embedded store.
  std::string store;
  // OMBRIX_DATA as read (empty when unset): the embedded store's data root, or the user's data
  // folder when empty (account_location.h: data_root_from).
  std::string data;
  // OMBRIX_ACCOUNT as read (empty when unset): the account of a server text that names none,
  // MAIN when empty (default_account_from).
  std::string account;
  // The PostgreSQL module's path; empty: libombrix-postgresql.so in the program's folder.
  std::string postgresql_module;
};

// Why the chosen store cannot be used: one sentence for standard error.
class host_store_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class host_store {
 public:
  // Opens the store `choice` names: for PostgreSQL, loads the module, checks the connection
  // text, connects and prepares the database (the data root is neither read nor created).
  // Throws host_store_error.
  static std::shared_ptr<host_store> open(const host_store_choice& choice);

  // A connected host object of the generation config.host_version names (71 or 80) for
  // `server`; never null. Throws _com_error: E_NOINTERFACE for another generation, or the
  // failure of connect. At debug level 1 the failure is also written to standard error.
  std::shared_ptr<velquor_base> create(const settings& config, const std::string& server) const;

  // The PostgreSQL store's hosts, or null for the embedded store.
  const std::shared_ptr<postgresql_hosts>& postgresql() const { return postgresql_; }

  // The embedded store's accounts; null for a PostgreSQL store and in the Windows build.
  const std::shared_ptr<account_stores>& embedded() const { return embedded_; }

 private:
  std::shared_ptr<postgresql_hosts> postgresql_;
  std::shared_ptr<account_stores> embedded_;
};

}  // namespace ombrix
