// ombrix-fault-host.dll: an in-process test component offering IVelquorServer (both interface
// identifiers, one layout) with the faults of tests/win/fault_modes.h, made of the same parts as
// ombrix-host.dll, journalling the calls it receives. Apartment-threaded, the journal unlocked
// (the tests use one thread). Tests only: never installed or shipped.
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <cstdio>
#include <string>

#include "host/com/velquor_interface.h"
#include "host/com_server/com_object.h"
#include "tests/win/fault_modes.h"

namespace ombrix::fault {
namespace {

using namespace ombrix::com;

std::wstring journal;

std::wstring render(BSTR value) {
  if (value == nullptr) return L"null";
  std::wstring out = L"\"";
  for (UINT i = 0, n = ::SysStringLen(value); i < n; ++i) {
    wchar_t escaped[8] = {value[i]};
    if (value[i] < 0x20 || value[i] >= 0x7F || value[i] == L'"' || value[i] == L'\\') {
      std::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(value[i]));
    }
    out += escaped;
  }
  return out + L"\"";
}
template <class Number>
std::wstring render(Number value) { return std::to_wstring(value); }

template <class... Args>
void note(int method, Args... args) {
  journal += std::to_wstring(method);
  ((journal += L' ', journal += render(args)), ...);
  journal += L'\n';
}

// What one instance holds: its fault.
struct fault_state {
  explicit fault_state(mode fault) : which(fault) {}
  bool offers(REFIID iid) const { return IsEqualIID(iid, IID_IUnknown) || which != mode::no_generation; }
  bool offers_support() const { return which != mode::fails_no_support; }
  bool supports_error_info(REFIID iid) const {
    return IsEqualIID(iid, iid_velquor80) || (IsEqualIID(iid, iid_velquor71) && which != mode::fails_80_only);
  }
  mode which;
};
using component = server_object<fault_state>;

HRESULT fail_with(const char16_t* description, HRESULT code) {
  set_error_info(reinterpret_cast<const wchar_t*>(description), nullptr);
  return code;
}

// What a call of `method` answers in the component's mode, its error information left.
HRESULT outcome(const component* self, int method) {
  const bool operation = method != method_connect && method != method_setting_28 && method != method_setting_47;
  switch (self->state.which) {
    case mode::connect_fails:
      return method == method_connect ? fail_with(connect_failure_text, connect_failure) : S_OK;
    case mode::setting_fails:
      return method == method_setting_28 ? fail_with(setting_failure_text, setting_failure) : S_OK;
    case mode::fails_with_info:
    case mode::fails_80_only:
    case mode::fails_no_support:
      return operation ? fail_with(operation_failure_text, operation_failure) : S_OK;
    case mode::fails_no_info:
      return operation ? (::SetErrorInfo(0, nullptr), E_FAIL) : S_OK;
    default:
      return S_OK;
  }
}

// The functions of IVelquorServer: each notes its call, then answers as its fault says.
struct fault_methods {
  template <int method, class... Args>
  static HRESULT STDMETHODCALLTYPE plain(component* self, Args... args) {
    note(method, args...);
    return outcome(self, method);
  }
  // A method with a text result after the arguments Args.
  template <int method, class... Args>
  static HRESULT STDMETHODCALLTYPE with_text(component* self, Args... args, BSTR* out) {
    note(method, args...);
    *out = nullptr;
    const HRESULT code = outcome(self, method);
    if (FAILED(code)) return code;
    const std::u16string m = u"m" + std::u16string(1, u'0' + method / 10) + std::u16string(1, u'0' + method % 10);
    return give(method == method_read_item ? std::u16string_view(item_text, item_text_length) : m, out);
  }
  template <int method, short answer, class... Args>
  static HRESULT STDMETHODCALLTYPE with_flag(component* self, Args... args, VARIANT_BOOL* out) {
    note(method, args...);
    const HRESULT code = outcome(self, method);
    *out = SUCCEEDED(code) ? answer : 0;
    return code;
  }
  static HRESULT STDMETHODCALLTYPE connect(component* self, BSTR server, VARIANT_BOOL* connected) {
    note(method_connect, server);
    const HRESULT code = outcome(self, method_connect);
    *connected = SUCCEEDED(code) && self->state.which != mode::connect_false ? VARIANT_TRUE : VARIANT_FALSE;
    return code;
  }
  template <int method>
  static HRESULT STDMETHODCALLTYPE text_property(component* self, BSTR* out) {
    return with_text<method>(self, out);
  }
  static constexpr auto quit = &plain<method_quit>;
  static constexpr auto write_item = &plain<method_write_item, BSTR, BSTR, BSTR, LONG, LONG, LONG, LONG>;
  static constexpr auto create_item = &plain<method_create_item, BSTR, BSTR, BSTR>;
  static constexpr auto delete_item = &plain<method_delete_item, BSTR, BSTR>;
  static constexpr auto invoke_pair = &plain<method_invoke_pair, BSTR, BSTR>;
  static constexpr auto setting_28 = &plain<method_setting_28, INT>;
  static constexpr auto setting_47 = &plain<method_setting_47, VARIANT_BOOL>;
  static constexpr auto read_item = &with_text<method_read_item, BSTR, BSTR, LONG, LONG, LONG, VARIANT_BOOL>;
  static constexpr auto query_text_1 = &with_text<method_query_text_1, BSTR, BSTR, VARIANT_BOOL>;
  static constexpr auto call_subroutine = &with_text<method_call_subroutine, BSTR, BSTR, BSTR>;
  static constexpr auto list_items = &with_text<method_list_items, BSTR, LONG, LONG, BSTR, BSTR>;
  static constexpr auto stat_item = &with_text<method_stat_item, BSTR, BSTR, BSTR>;
  static constexpr auto query_text_2 = &with_text<method_query_text_2, LONG, BSTR>;
  static constexpr auto query_flag_1 = &with_flag<method_query_flag_1, flag_1_answer, BSTR>;
  static constexpr auto query_flag_2 = &with_flag<method_query_flag_2, flag_2_answer, BSTR, BSTR>;
};
using fault_factory = server_class<fault_state, fault_methods>::factory<mode>;

}  // namespace
}  // namespace ombrix::fault

using namespace ombrix::fault;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  static fault_factory factories[mode_count] = {};
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (int i = 0; i < mode_count; ++i) {
    if (!IsEqualCLSID(clsid, class_of(i))) continue;
    factories[i] = {fault_factory::table_of_functions(), static_cast<mode>(i)};
    return fault_factory::query_interface(&factories[i], iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return ombrix::com::live_objects == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  const std::wstring path = ombrix::com::module_path(::GetModuleHandleW(dll_name));
  for (int i = 0; i < mode_count; ++i) {
    if (path.empty() || !ombrix::com::register_class(HKEY_CURRENT_USER, progids[i], class_of(i), path.c_str(), nullptr)) {
      return SELFREG_E_CLASS;
    }
    ombrix::com::register_class(HKEY_LOCAL_MACHINE, progids[i], class_of(i), path.c_str(), nullptr);  // Wine looks only there
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  for (int i = 0; i < mode_count; ++i) {
    ombrix::com::unregister_class(HKEY_CURRENT_USER, progids[i], class_of(i));
    ombrix::com::unregister_class(HKEY_LOCAL_MACHINE, progids[i], class_of(i));
  }
  return S_OK;
}

extern "C" const wchar_t* fault_journal() { return journal.c_str(); }
extern "C" void fault_reset() { journal.clear(); }
extern "C" long fault_live_objects() { return ombrix::com::live_objects; }
