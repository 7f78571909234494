// A store in a PostgreSQL database: its connection pool and the accounts opened in it.
// Thread-safe. One database holds one store and nothing of it lives outside that database, so
// a copy of the database (CREATE DATABASE ... TEMPLATE) is an independent store.
//
//   auto store = pg_store::open("postgresql:///team?host=/run/postgresql");
//   store->create_account(u"SALES", u"MD");
//   std::shared_ptr<pg_account> sales = store->account(u"SALES");
#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "host/pg/pg_account.h"
#include "host/pg/pg_pool.h"
#include "host/text.h"

namespace ombrix {

// Why a store cannot be used: one sentence for standard error.
class pg_store_error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class pg_store {
 public:
  // Checks the libpq connection text `conninfo` (a URI, key=value words, service=NAME),
  // connects once and creates the store's tables where they are missing. Throws pg_store_error
  // for a malformed text or a database that cannot be reached or prepared.
  static std::shared_ptr<pg_store> open(const std::string& conninfo,
                                        pg_pool::options settings = {});

  pg_store(const pg_store&) = delete;
  pg_store& operator=(const pg_store&) = delete;

  // The account `name`: 201 for an invalid name or a missing account, 206 when the database
  // cannot be reached. Accounts once found are kept (this host never deletes one).
  std::shared_ptr<pg_account> account(const text& name);

  // Creates the account with its master dictionary `md_name` (its DICT, data section and own
  // pointer) in one transaction. 201 for an invalid name, 203 for an invalid MD name, 204 when
  // the account exists.
  void create_account(const text& name, const text& md_name);

  // Creates the account `name` holding exactly `image`, in one transaction: all of it or
  // nothing. Refusals as create_account, then as pg_account::fill.
  void write_account(const text& name, const account_image& image);

  const std::string& conninfo() const { return conninfo_; }
  const std::string& database() const { return database_; }
  pg_pool& pool() { return *pool_; }

 private:
  pg_store(std::string conninfo, pg_pool::options settings);
  // Inserts the account and its master dictionary inside the caller's transaction; its id.
  std::int32_t insert_account(pg_connection& c, const text& name, const text& md_name);

  const std::string conninfo_;
  std::string database_;
  const std::shared_ptr<pg_pool> pool_;
  std::mutex mutex_;
  std::map<text, std::shared_ptr<pg_account>> accounts_;  // guarded by mutex_
};

}  // namespace ombrix
