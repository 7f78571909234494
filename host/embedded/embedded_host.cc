#include "host/embedded/embedded_host.h"

#include "host/embedded/account_location.h"
#include "host/host_commands.h"

namespace ombrix {
namespace {

[[noreturn]] void not_implemented(std::u16string_view operation) {
  throw _com_error(e_notimpl, text(u"The embedded host does not implement ") + text(operation) +
                                  u".");
}

}  // namespace

account_store& embedded_host::store() const {
  if (!store_) throw _com_error(e_pointer, u"The host object is not connected to an account.");
  return *store_;
}

void embedded_host::connect(const text& server) {
  store_.reset();
  client_.clear();
  server_target target = parse_server_text(server, stores_.default_account());
  store_ = stores_.open(target.account);
  client_ = std::move(target.client);
}

text embedded_host::get_server_name() { return store().name(); }
text embedded_host::get_property_2() {
  store();
  return client_;
}
text embedded_host::get_property_3() { return store().name(); }
text embedded_host::get_property_4() { return from_utf8_lenient(store().path()); }
text embedded_host::get_property_5() { return store().md_name(); }

text embedded_host::read_item(const text& file, const text& item, std::int32_t, std::int32_t,
                              std::int32_t, std::int16_t) {
  return store().read(file, item);
}

void embedded_host::read_item_pieces(const text& file, const text& item, item_text_sink& sink) {
  store().read_pieces(file, item, sink);
}

void embedded_host::list_items_pieces(const text& file, std::int32_t attribute,
                                      std::int32_t max_count, item_text_sink& sink) {
  store().list_pieces(file, attribute, max_count, sink);
}

void embedded_host::write_item_pieces(const text& file, const text& item,
                                      item_text_source& source) {
  store().write_pieces(file, item, source);
}

void embedded_host::write_item(const text& file, const text& item, const text& content,
                               std::int32_t, std::int32_t, std::int32_t, std::int32_t) {
  store().write(file, item, content);
}

void embedded_host::create_item(const text& file, const text& item, const text& content) {
  store().create_item(file, item, content);
}

void embedded_host::delete_item(const text& file, const text& item) {
  store().remove(file, item);
}

text embedded_host::stat_item(const text& file, const text& item, const text&) {
  return store().stat(file, item);
}

text embedded_host::list_items(const text& file, std::int32_t attribute, std::int32_t max_count,
                               const text&, const text&) {
  return store().list(file, attribute, max_count);
}

text embedded_host::call_subroutine(const text& name, const text& first, const text& second) {
  store();
  return run_host_subroutine(*this, name, first, second);
}

void embedded_host::move_item(const text& file, const text& from, const text& to, bool replace,
                              create_style) {
  store().move(file, from, to, replace);
}

void embedded_host::copy_item(const text& file, const text& from, const text& to,
                              bool overwrite, create_style) {
  store().copy(file, from, to, overwrite);
}

std::vector<std::pair<text, std::int64_t>> embedded_host::list_item_times(const text& file) {
  return store().item_times(file);
}

bool embedded_host::set_item_time(const text& file, const text& item,
                                  std::int64_t nanoseconds) {
  return store().set_item_time(file, item, nanoseconds);
}

void embedded_host::quit() {
  if (store_) store_->checkpoint();
}

std::int16_t embedded_host::query_flag_1(const text&) { not_implemented(u"query_flag_1"); }
std::int16_t embedded_host::query_flag_2(const text&, const text&) {
  not_implemented(u"query_flag_2");
}
void embedded_host::invoke_pair(const text&, const text&) { not_implemented(u"invoke_pair"); }
text embedded_host::query_text_1(const text&, const text&, std::int16_t) {
  not_implemented(u"query_text_1");
}
text embedded_host::query_text_2(std::int32_t, const text&) { not_implemented(u"query_text_2"); }

bool embedded_host::change_item_if(const text& file, const text& item, const text* content,
                                   const item_condition& condition) {
  return store().change_if(file, item, content, condition);
}

}  // namespace ombrix
