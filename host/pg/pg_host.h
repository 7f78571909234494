// The PostgreSQL host: velquor_base over the accounts of a store in a PostgreSQL database
// (pg_store), for both generations, with the embedded host's contract. One object serves one
// request on one thread; the store behind it is shared and thread-safe, and connecting only
// looks the account up in the store's own table of opened accounts.
//
// connect takes the server text "[server*]account*client" (account_location.h). The operations
// the server never calls fail with E_NOTIMPL; every operation before a successful connect fails
// with E_POINTER.
#pragma once

#include <memory>

#include "host/pg/pg_store.h"
#include "host/velquor_base.h"

namespace ombrix {

class pg_host final : public velquor_base {
 public:
  // `default_account` is the account of a server text that names none.
  pg_host(std::shared_ptr<pg_store> store, text default_account)
      : store_(std::move(store)), default_account_(std::move(default_account)) {}
  pg_host(const pg_host&) = delete;
  pg_host& operator=(const pg_host&) = delete;

  void connect(const text& server) override;
  text get_server_name() override;  // the account name
  text get_property_2() override;   // the client name given to connect
  text get_property_3() override;   // the account name
  text get_property_4() override;   // the store's database name
  text get_property_5() override;   // the master dictionary name
  text read_item(const text& file, const text& item, std::int32_t a, std::int32_t b,
                 std::int32_t c, std::int16_t flag) override;
  void write_item(const text& file, const text& item, const text& content, std::int32_t a,
                  std::int32_t b, std::int32_t c, std::int32_t d) override;
  void create_item(const text& file, const text& item, const text& content) override;
  void delete_item(const text& file, const text& item) override;
  text stat_item(const text& file, const text& item, const text& selector) override;
  std::int16_t query_flag_1(const text& a) override;
  std::int16_t query_flag_2(const text& a, const text& b) override;
  text list_items(const text& file, std::int32_t attribute, std::int32_t max_count, const text& b,
                  const text& selector) override;
  void invoke_pair(const text& a, const text& b) override;
  text query_text_1(const text& a, const text& b, std::int16_t flag) override;
  text call_subroutine(const text& name, const text& first, const text& second) override;
  text query_text_2(std::int32_t value, const text& a) override;
  void quit() override;  // nothing to write back: every call has committed
  // One transaction each (pg_account::move and copy), whatever the generation.
  void move_item(const text& file, const text& from, const text& to, bool replace,
                 create_style style) override;
  void copy_item(const text& file, const text& from, const text& to, bool overwrite,
                 create_style style) override;
  // Checked and changed in one transaction holding the item's row (pg_account::change_if), so
  // a condition holds across servers too.
  bool change_item_if(const text& file, const text& item, const text* content,
                      const item_condition& condition) override;
  // The times the database keeps (pg_account::item_times, set_item_time).
  std::vector<std::pair<text, std::int64_t>> list_item_times(const text& file) override;
  bool set_item_time(const text& file, const text& item, std::int64_t nanoseconds) override;

 private:
  pg_account& account() const;

  const std::shared_ptr<pg_store> store_;
  const text default_account_;
  std::shared_ptr<pg_account> account_;
  text client_;
};

}  // namespace ombrix
