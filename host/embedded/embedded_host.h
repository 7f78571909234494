// The embedded host: velquor_base implemented directly over this process's account stores
// (account_stores, which must outlive the object), so that the server needs no separately
// installed host component. One object serves one request on one thread, like any host object;
// the stores behind it are shared and thread-safe, which keeps connecting cheap.
//
// connect takes the server text "[server*]account*client" (account_location.h). The operations
// the server never calls (query_flag_1/2, invoke_pair, query_text_1/2) fail with E_NOTIMPL;
// every operation before a successful connect fails with E_POINTER.
#pragma once

#include <memory>

#include "host/embedded/account_store.h"
#include "host/embedded/account_stores.h"
#include "host/velquor_base.h"

namespace ombrix {

class embedded_host final : public velquor_base {
 public:
  explicit embedded_host(account_stores& stores) : stores_(stores) {}
  embedded_host(const embedded_host&) = delete;
  embedded_host& operator=(const embedded_host&) = delete;

  void connect(const text& server) override;
  text get_server_name() override;  // the account name: name + "**" + client reaches it again
  text get_property_2() override;   // the client name given to connect
  text get_property_3() override;   // the account name
  text get_property_4() override;   // the account's database file
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
  void quit() override;  // writes committed pages back into the database file; never fails
  // A large text in pieces from the database; renderings of large items are kept
  // (account_store::read_pieces).
  void read_item_pieces(const text& file, const text& item, item_text_sink& sink) override;
  // The listing with its rendering kept while it stands (account_store::list_pieces).
  void list_items_pieces(const text& file, std::int32_t attribute, std::int32_t max_count,
                         item_text_sink& sink) override;
  // A large text written into the database piece by piece (account_store::write_pieces).
  void write_item_pieces(const text& file, const text& item, item_text_source& source) override;
  // One transaction each (account_store::move and copy), whatever the generation.
  void move_item(const text& file, const text& from, const text& to, bool replace,
                 create_style style) override;
  void copy_item(const text& file, const text& from, const text& to, bool overwrite,
                 create_style style) override;
  // Checked and changed in one transaction (account_store::change_if).
  bool change_item_if(const text& file, const text& item, const text* content,
                      const item_condition& condition) override;
  // The account's own times (account_store::item_times, set_item_time).
  std::vector<std::pair<text, std::int64_t>> list_item_times(const text& file) override;
  bool set_item_time(const text& file, const text& item, std::int64_t nanoseconds) override;

 private:
  account_store& store() const;

  account_stores& stores_;
  std::shared_ptr<account_store> store_;
  text client_;
};

}  // namespace ombrix
