// The PostgreSQL store as a module that the server loads only when OMBRIX_STORE names a
// database (libombrix-postgresql.so, beside the program): libpq and the libraries it brings
// (TLS, Kerberos, LDAP) then cost a server on the embedded store neither memory nor start-up.
// The module holds its own copy of the host code it needs; what crosses is the interface below,
// built by the same compiler.
#pragma once

#include <memory>
#include <string>

#include "host/text.h"
#include "host/velquor_base.h"

namespace ombrix {

// The hosts of one opened PostgreSQL store. Thread-safe; lives as long as the process.
class postgresql_hosts {
 public:
  virtual ~postgresql_hosts() = default;
  // A new, unconnected host object of the store.
  virtual std::shared_ptr<velquor_base> make_host() = 0;
};

// The module's file name and its one entry point: opens the store `conninfo` names with
// `default_account` as the account of a server text that names none. Returns a new object
// (the caller owns it), or null with one sentence for standard error in `error`.
inline constexpr const char* postgresql_module_file = "libombrix-postgresql.so";
inline constexpr const char* postgresql_module_entry = "ombrix_open_postgresql";
using postgresql_module_open = postgresql_hosts* (*)(const std::string& conninfo,
                                                     const text& default_account,
                                                     std::string& error);

}  // namespace ombrix
