#include "host/com/velquor_com.h"

#include <objbase.h>
#include <oleauto.h>
#include <ole2.h>

#include "host/com/bstr_handle.h"
#include "host/com/code_page_units.h"
#include "host/com/error_info.h"
#include "host/com/velquor_interface.h"

namespace ombrix {
namespace {

// Every instance is asked for with all four server kinds; an in-process server is preferred.
constexpr DWORD class_context =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;
static_assert(class_context == 23);

// A text argument: a copy up to its first NUL, a null BSTR for empty text.
bstr_handle arg(const text& value) { return bstr_handle::up_to_nul(value); }

// Calls the method at `index` of the interface's table of functions.
template <class... Args>
HRESULT call_method(IUnknown* target, int index, Args... args) {
  using function = HRESULT(STDMETHODCALLTYPE*)(IUnknown*, Args...);
  void** table = *reinterpret_cast<void***>(target);
  return reinterpret_cast<function>(table[index])(target, args...);
}

// A failed call raised with the error information the component gives for the 7.1 interface
// (the identifier asked for by both generations).
void check(HRESULT code, IUnknown* target) {
  if (FAILED(code)) issue_com_error(code, target, com::iid_velquor71);
}

}  // namespace

velquor_com::velquor_com(const velquor_generation& generation) {
  CLSID class_id{};
  HRESULT code = ::CLSIDFromProgID(generation.progid, &class_id);
  if (FAILED(code)) issue_com_error(code);
  IUnknown* created = nullptr;
  code = ::CoCreateInstance(class_id, nullptr, class_context, IID_IUnknown,
                            reinterpret_cast<void**>(&created));
  if (FAILED(code)) issue_com_error(code);
  IUnknown* generation_pointer = nullptr;
  {
    const com_unknown instance(created);
    code = ::OleRun(created);
    if (FAILED(code)) issue_com_error(code);
    code = created->QueryInterface(*generation.iid, reinterpret_cast<void**>(&generation_pointer));
    if (FAILED(code)) issue_com_error(code);
  }
  const com_unknown generation_interface(generation_pointer);
  if (generation_pointer == nullptr) issue_com_error(e_pointer);
  check(call_method(generation_pointer, com::method_setting_28, INT{1}), generation_pointer);
  check(call_method(generation_pointer, com::method_setting_47, VARIANT_BOOL{VARIANT_TRUE}),
        generation_pointer);
  IUnknown* base = nullptr;
  code = generation_pointer->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&base));
  if (FAILED(code) && code != E_NOINTERFACE) issue_com_error(code);
  m_server.reset(base);
}

IUnknown* velquor_com::generation_interface() const {
  IUnknown* result = nullptr;
  const HRESULT code =
      m_server.get() == nullptr
          ? E_NOINTERFACE
          : m_server.get()->QueryInterface(generation_iid(), reinterpret_cast<void**>(&result));
  if (FAILED(code) && code != E_NOINTERFACE) issue_com_error(code);
  if (result == nullptr) issue_com_error(e_pointer);
  return result;
}

namespace {

// One operation: a fresh interface, the call, the failure raised, the interface released.
template <class... Args>
void run(IUnknown* adopted, int index, Args... args) {
  const com_unknown target(adopted);
  check(call_method(adopted, index, args...), adopted);
}

}  // namespace

void velquor_com::connect(const text& server) {
  const bstr_handle name = arg(server);
  VARIANT_BOOL connected = VARIANT_FALSE;  // never looked at: a failure comes as a failed code
  run(generation_interface(), com::method_connect, name.get(), &connected);
}

text velquor_com::text_property(int index) const {
  bstr_handle result;
  run(generation_interface(), index, result.out());
  return result.str();
}

text velquor_com::get_server_name() { return text_property(com::method_server_name); }
text velquor_com::get_property_2() { return text_property(com::method_property_2); }
text velquor_com::get_property_3() { return text_property(com::method_property_3); }
text velquor_com::get_property_4() { return text_property(com::method_property_4); }
text velquor_com::get_property_5() { return text_property(com::method_property_5); }

text velquor_com::read_item(const text& file, const text& item, std::int32_t a, std::int32_t b,
                            std::int32_t c, std::int16_t flag) {
  const bstr_handle file_name = arg(file), item_name = arg(item);
  bstr_handle result;
  run(generation_interface(), com::method_read_item, file_name.get(), item_name.get(), LONG{a},
      LONG{b}, LONG{c}, VARIANT_BOOL{flag}, result.out());
  return result.str();
}

void velquor_com::write_item(const text& file, const text& item, const text& content,
                             std::int32_t a, std::int32_t b, std::int32_t c, std::int32_t d) {
  const bstr_handle file_name = arg(file), item_name = arg(item);
  const bstr_handle data = bstr_handle::whole(content);
  run(generation_interface(), com::method_write_item, file_name.get(), item_name.get(),
      data.get(), LONG{a}, LONG{b}, LONG{c}, LONG{d});
}

void velquor_com::create_item(const text& file, const text& item, const text& content) {
  const bstr_handle file_name = arg(file), item_name = arg(item);
  const bstr_handle data = bstr_handle::whole(content);
  run(generation_interface(), com::method_create_item, file_name.get(), item_name.get(),
      data.get());
}

void velquor_com::delete_item(const text& file, const text& item) {
  const bstr_handle file_name = arg(file), item_name = arg(item);
  run(generation_interface(), com::method_delete_item, file_name.get(), item_name.get());
}

text velquor_com::stat_item(const text& file, const text& item, const text& selector) {
  const bstr_handle file_name = arg(file), item_name = arg(item), which = arg(selector);
  bstr_handle result;
  run(generation_interface(), com::method_stat_item, file_name.get(), item_name.get(),
      which.get(), result.out());
  return result.str();
}

std::int16_t velquor_com::query_flag_1(const text& a) {
  const bstr_handle first = arg(a);
  VARIANT_BOOL result = VARIANT_FALSE;
  run(generation_interface(), com::method_query_flag_1, first.get(), &result);
  return result;
}

std::int16_t velquor_com::query_flag_2(const text& a, const text& b) {
  const bstr_handle first = arg(a), second = arg(b);
  VARIANT_BOOL result = VARIANT_FALSE;
  run(generation_interface(), com::method_query_flag_2, first.get(), second.get(), &result);
  return result;
}

text velquor_com::list_items(const text& file, std::int32_t attribute, std::int32_t max_count,
                             const text& b, const text& selector) {
  const bstr_handle file_name = arg(file), second = arg(b), which = arg(selector);
  bstr_handle result;
  run(generation_interface(), com::method_list_items, file_name.get(), LONG{attribute},
      LONG{max_count}, second.get(), which.get(), result.out());
  return result.str();
}

void velquor_com::invoke_pair(const text& a, const text& b) {
  const bstr_handle first = arg(a), second = arg(b);
  run(generation_interface(), com::method_invoke_pair, first.get(), second.get());
}

text velquor_com::query_text_1(const text& a, const text& b, std::int16_t flag) {
  const bstr_handle first = arg(a), second = arg(b);
  bstr_handle result;
  run(generation_interface(), com::method_query_text_1, first.get(), second.get(),
      VARIANT_BOOL{flag}, result.out());
  return result.str();
}

text velquor_com::call_subroutine(const text& name, const text& first, const text& second) {
  const bstr_handle routine = arg(name), one = arg(first), two = arg(second);
  bstr_handle result;
  run(generation_interface(), com::method_call_subroutine, routine.get(), one.get(), two.get(),
      result.out());
  return result.str();
}

std::optional<text> velquor_com::command_parameter_name(const text& name) const {
  return code_page_units(name);
}

text velquor_com::query_text_2(std::int32_t value, const text& a) {
  const bstr_handle first = arg(a);
  bstr_handle result;
  run(generation_interface(), com::method_query_text_2, LONG{value}, first.get(), result.out());
  return result.str();
}

void velquor_com::quit() { run(generation_interface(), com::method_quit); }

velquor71::velquor71() : velquor_com({com::progid_velquor71, &com::iid_velquor71}) {}
const IID& velquor71::generation_iid() const { return com::iid_velquor71; }

velquor80::velquor80() : velquor_com({com::progid_velquor80, &com::iid_velquor80}) {}
const IID& velquor80::generation_iid() const { return com::iid_velquor80; }

}  // namespace ombrix
