#include "host/pg/pg_host.h"

#include "host/embedded/account_location.h"
#include "host/host_commands.h"

namespace ombrix {
namespace {

[[noreturn]] void not_implemented(std::u16string_view operation) {
  throw _com_error(e_notimpl, text(u"The PostgreSQL host does not implement ") +
                                  text(operation) + u".");
}

}  // namespace

pg_account& pg_host::account() const {
  if (!account_) throw _com_error(e_pointer, u"The host object is not connected to an account.");
  return *account_;
}

void pg_host::connect(const text& server) {
  account_.reset();
  client_.clear();
  server_target target = parse_server_text(server, default_account_);
  account_ = store_->account(target.account);
  client_ = std::move(target.client);
}

text pg_host::get_server_name() { return account().name(); }
text pg_host::get_property_2() {
  account();
  return client_;
}
text pg_host::get_property_3() { return account().name(); }
text pg_host::get_property_4() {
  account();
  return from_utf8_lenient(store_->database());
}
text pg_host::get_property_5() { return account().md_name(); }

text pg_host::read_item(const text& file, const text& item, std::int32_t, std::int32_t,
                        std::int32_t, std::int16_t) {
  return account().read(file, item);
}

void pg_host::write_item(const text& file, const text& item, const text& content, std::int32_t,
                         std::int32_t, std::int32_t, std::int32_t) {
  account().write(file, item, content);
}

void pg_host::create_item(const text& file, const text& item, const text& content) {
  account().create_item(file, item, content);
}

void pg_host::delete_item(const text& file, const text& item) { account().remove(file, item); }

text pg_host::stat_item(const text& file, const text& item, const text&) {
  return account().stat(file, item);
}

text pg_host::list_items(const text& file, std::int32_t attribute, std::int32_t max_count,
                         const text&, const text&) {
  return account().list(file, attribute, max_count);
}

text pg_host::call_subroutine(const text& name, const text& first, const text& second) {
  account();
  return run_host_subroutine(*this, name, first, second);
}

std::vector<std::pair<text, std::int64_t>> pg_host::list_item_times(const text& file) {
  return account().item_times(file);
}

bool pg_host::set_item_time(const text& file, const text& item, std::int64_t nanoseconds) {
  account().set_item_time(file, item, nanoseconds);
  return true;
}

void pg_host::move_item(const text& file, const text& from, const text& to, bool replace,
                        create_style) {
  account().move(file, from, to, replace);
}

void pg_host::copy_item(const text& file, const text& from, const text& to, bool overwrite,
                        create_style) {
  account().copy(file, from, to, overwrite);
}

bool pg_host::change_item_if(const text& file, const text& item, const text* content,
                             const item_condition& condition) {
  return account().change_if(file, item, content, condition);
}

void pg_host::quit() {}

std::int16_t pg_host::query_flag_1(const text&) { not_implemented(u"query_flag_1"); }
std::int16_t pg_host::query_flag_2(const text&, const text&) { not_implemented(u"query_flag_2"); }
void pg_host::invoke_pair(const text&, const text&) { not_implemented(u"invoke_pair"); }
text pg_host::query_text_1(const text&, const text&, std::int16_t) {
  not_implemented(u"query_text_1");
}
text pg_host::query_text_2(std::int32_t, const text&) { not_implemented(u"query_text_2"); }

}  // namespace ombrix
