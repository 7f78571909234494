// The store ombrix-admin works on: a data root of the embedded host or a PostgreSQL database,
// behind one interface so that every command works on either. Not thread-safe (one command
// runs at a time); the stores behind it are.
//
// Failures are thrown as _com_error with the host's numbers and descriptions, or as
// admin_store_error for a store that cannot be opened.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "host/account_image.h"
#include "host/embedded/account_store.h"
#include "host/text.h"

namespace ombrix {

class admin_store_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One account, with the operations of account_store that the commands use.
class admin_account {
 public:
  virtual ~admin_account() = default;
  virtual text md_name() = 0;
  virtual account_store::file_additions create_file(const text& file,
                                                    const std::vector<text>& sections) = 0;
  virtual std::size_t import_items(const text& file,
                                   const std::vector<account_store::item>& items) = 0;
  virtual void for_each_item(
      const text& file, const std::function<void(const text& id, const text& content)>& visit) = 0;
  virtual std::vector<listing_entry> entries(const text& file, std::int32_t attribute,
                                             std::int32_t max_count) = 0;
};

class admin_store {
 public:
  virtual ~admin_store() = default;

  // True for a text that names a PostgreSQL store rather than a data root: a postgresql:// or
  // postgres:// URI, or libpq key=value words (service=NAME, host=... dbname=...).
  static bool names_postgresql(const std::string& location);

  // The store at `location` (a data root directory or a PostgreSQL connection text). Throws
  // admin_store_error when a PostgreSQL store cannot be reached.
  static std::unique_ptr<admin_store> open(const std::string& location);

  // What `location` is, for messages: "data root DIR" or "PostgreSQL database NAME".
  virtual std::string description() const = 0;

  virtual void create_account(const text& name, const text& md_name) = 0;
  // The existing account `name`: 201 when there is none. Nothing is created for a look-up.
  virtual std::unique_ptr<admin_account> account(const text& name) = 0;
  // Creates the account `name` holding exactly `image`, all of it or nothing: 204 when the
  // account exists; on any failure no account is left behind.
  virtual void write_account(const text& name, const account_image& image) = 0;
};

// The PostgreSQL store at `location` (postgresql/ on POSIX, win32/ on Windows, where it
// always fails). Throws admin_store_error.
std::unique_ptr<admin_store> open_postgresql_store(const std::string& location);

// The whole account, read section by section.
account_image read_account_image(admin_account& account);

}  // namespace ombrix
