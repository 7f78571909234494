// The embedded host's accounts in one process: where they live (the data root and the default
// account) and the stores opened so far, kept so that their pooled connections and prepared
// statements outlive the host objects of single requests. Owned by the process's host store
// (or a test) and passed to every embedded_host. Thread-safe: accounts open concurrently, each
// one once.
#pragma once

#include <memory>
#include <string>

#include "host/embedded/account_store.h"
#include "host/embedded/store_registry.h"
#include "host/text.h"

namespace ombrix {

class account_stores {
 public:
  // `data_root` may be empty (no data root: every open fails with 201).
  account_stores(std::string data_root, text default_account,
                 store_registry<account_store>::limits bounds = {})
      : data_root_(std::move(data_root)),
        default_account_(std::move(default_account)),
        open_(std::move(bounds)) {}
  account_stores(const account_stores&) = delete;
  account_stores& operator=(const account_stores&) = delete;

  const std::string& data_root() const { return data_root_; }
  // The account of a server text that names none.
  const text& default_account() const { return default_account_; }

  // The store of account `name`, as account_store::open in the data root.
  std::shared_ptr<account_store> open(const text& name) {
    return account_store::open(open_, data_root_, name);
  }

  // Closes the idle connections of every store that no host object uses any more, and forgets
  // those stores. Lets tests and tools release file handles; the server does not need it.
  void release_unused() { open_.release_unused(); }

 private:
  const std::string data_root_;
  const text default_account_;
  store_registry<account_store> open_;
};

}  // namespace ombrix
