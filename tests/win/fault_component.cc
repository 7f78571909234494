// ombrix-fault-host.dll: an in-process test component offering IVelquorServer (both interface
// identifiers, one layout) with the faults of tests/win/fault_modes.h, one class per fault, made
// of the same parts as ombrix-host.dll (host/com_server/com_object.h). It keeps a journal of the
// calls it receives, so that tests can check what the bindings pass. Apartment-threaded; the
// journal is not locked (the tests use one thread). Registered for the current user, and also
// in the machine part of the registry where that is writable (Wine reads classes only from
// there). Tests only: never installed or shipped.
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

HMODULE this_module = nullptr;
std::wstring journal;

std::wstring render(BSTR value) {
  if (value == nullptr) return L"null";
  std::wstring out = L"\"";
  for (UINT i = 0, n = ::SysStringLen(value); i < n; ++i) {
    const wchar_t unit = value[i];
    if (unit >= 0x20 && unit < 0x7F && unit != L'"' && unit != L'\\') {
      out += unit;
    } else {
      wchar_t escaped[8];
      std::swprintf(escaped, 8, L"\\u%04x", static_cast<unsigned>(unit));
      out += escaped;
    }
  }
  return out + L"\"";
}
std::wstring render(long value) { return std::to_wstring(value); }
std::wstring render(int value) { return std::to_wstring(value); }
std::wstring render(short value) { return std::to_wstring(value); }

template <class... Args>
void note(int method, Args... args) {
  journal += std::to_wstring(method);
  ((journal += L' ', journal += render(args)), ...);
  journal += L'\n';
}

// An IErrorInfo whose GetDescription fails; one static object, not counted.
HRESULT STDMETHODCALLTYPE bad_query_interface(IErrorInfo* self, REFIID iid, void** out) {
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IErrorInfo)) {
    *out = self;
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE bad_add_ref(IErrorInfo*) { return 2; }
ULONG STDMETHODCALLTYPE bad_release(IErrorInfo*) { return 1; }
HRESULT STDMETHODCALLTYPE bad_text(IErrorInfo*, BSTR* out) {
  if (out != nullptr) *out = nullptr;
  return E_FAIL;
}
HRESULT STDMETHODCALLTYPE bad_guid(IErrorInfo*, GUID* out) {
  if (out != nullptr) *out = GUID_NULL;
  return E_FAIL;
}
HRESULT STDMETHODCALLTYPE bad_context(IErrorInfo*, DWORD* out) {
  if (out != nullptr) *out = 0;
  return E_FAIL;
}
void* bad_info_table[] = {
    reinterpret_cast<void*>(&bad_query_interface),
    reinterpret_cast<void*>(&bad_add_ref),
    reinterpret_cast<void*>(&bad_release),
    reinterpret_cast<void*>(&bad_guid),
    reinterpret_cast<void*>(&bad_text),
    reinterpret_cast<void*>(&bad_text),
    reinterpret_cast<void*>(&bad_text),
    reinterpret_cast<void*>(&bad_context),
};
struct {
  void** table = bad_info_table;
} bad_info;

// What one instance holds: its fault, and whether method 47 has been called.
struct fault_state {
  explicit fault_state(mode fault) : which(fault) {}
  bool offers(REFIID iid) const {
    if (IsEqualIID(iid, IID_IUnknown)) return !(which == mode::no_unknown && settled);
    return which != mode::no_generation;
  }
  bool offers_support() const { return which != mode::fails_no_support; }
  bool supports_error_info(REFIID iid) const {
    return IsEqualIID(iid, iid_velquor80) ||
           (IsEqualIID(iid, iid_velquor71) && which != mode::fails_80_only);
  }
  mode which;
  bool settled = false;
};
using component = server_object<fault_state>;

void leave_error_info(const char16_t* description) {
  set_error_info(reinterpret_cast<const wchar_t*>(description), nullptr);
}

bool is_operation(int method) {
  return method != method_connect && method != method_setting_28 && method != method_setting_47;
}

// What a call of `method` answers in the component's mode, its error information left.
HRESULT outcome(const component* self, int method) {
  switch (self->state.which) {
    case mode::connect_fails:
      if (method != method_connect) return S_OK;
      leave_error_info(connect_failure_text);
      return connect_failure;
    case mode::setting_fails:
      if (method != method_setting_28) return S_OK;
      leave_error_info(setting_failure_text);
      return setting_failure;
    case mode::fails_with_info:
    case mode::fails_80_only:
    case mode::fails_no_support:
      if (!is_operation(method)) return S_OK;
      leave_error_info(operation_failure_text);
      return operation_failure;
    case mode::fails_no_info:
      if (!is_operation(method)) return S_OK;
      ::SetErrorInfo(0, nullptr);
      return E_FAIL;
    case mode::fails_bad_description:
      if (!is_operation(method)) return S_OK;
      ::SetErrorInfo(0, reinterpret_cast<IErrorInfo*>(&bad_info));
      return operation_failure;
    default:
      return S_OK;
  }
}

// The answer of a method with a text result.
HRESULT answer_text(const component* self, int method, BSTR* out) {
  if (out != nullptr) *out = nullptr;
  const HRESULT code = outcome(self, method);
  if (FAILED(code) || out == nullptr || self->state.which == mode::null_results) return code;
  const std::wstring value = method == method_read_item
                                 ? std::wstring(item_text, item_text + item_text_length)
                                 : L"m" + std::to_wstring(method);
  *out = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// The functions of IVelquorServer: each notes its call, then answers as its fault says.
struct fault_methods {
  // A method without a result: its arguments noted, then its outcome.
  template <int method, class... Args>
  static HRESULT STDMETHODCALLTYPE plain(component* self, Args... args) {
    note(method, args...);
    return outcome(self, method);
  }
  // A method with a text result after the arguments Args.
  template <int method, class... Args>
  static HRESULT STDMETHODCALLTYPE with_text(component* self, Args... args, BSTR* out) {
    note(method, args...);
    return answer_text(self, method, out);
  }
  // A method with a flag result after the arguments Args.
  template <int method, short answer, class... Args>
  static HRESULT STDMETHODCALLTYPE with_flag(component* self, Args... args, VARIANT_BOOL* out) {
    note(method, args...);
    const HRESULT code = outcome(self, method);
    if (out != nullptr) *out = SUCCEEDED(code) ? answer : 0;
    return code;
  }

  static HRESULT STDMETHODCALLTYPE connect(component* self, BSTR server, VARIANT_BOOL* connected) {
    note(method_connect, server);
    if (connected != nullptr) *connected = VARIANT_FALSE;
    const HRESULT code = outcome(self, method_connect);
    if (SUCCEEDED(code) && connected != nullptr && self->state.which != mode::connect_false) {
      *connected = VARIANT_TRUE;
    }
    return code;
  }
  static HRESULT STDMETHODCALLTYPE setting_47(component* self, VARIANT_BOOL value) {
    self->state.settled = true;
    return plain<method_setting_47>(self, value);
  }
  template <int method>
  static HRESULT STDMETHODCALLTYPE text_property(component* self, BSTR* out) {
    return with_text<method>(self, out);
  }
  static constexpr auto quit = &plain<method_quit>;
  static constexpr auto write_item =
      &plain<method_write_item, BSTR, BSTR, BSTR, LONG, LONG, LONG, LONG>;
  static constexpr auto create_item = &plain<method_create_item, BSTR, BSTR, BSTR>;
  static constexpr auto delete_item = &plain<method_delete_item, BSTR, BSTR>;
  static constexpr auto invoke_pair = &plain<method_invoke_pair, BSTR, BSTR>;
  static constexpr auto setting_28 = &plain<method_setting_28, INT>;
  static constexpr auto read_item =
      &with_text<method_read_item, BSTR, BSTR, LONG, LONG, LONG, VARIANT_BOOL>;
  static constexpr auto query_text_1 = &with_text<method_query_text_1, BSTR, BSTR, VARIANT_BOOL>;
  static constexpr auto call_subroutine = &with_text<method_call_subroutine, BSTR, BSTR, BSTR>;
  static constexpr auto list_items = &with_text<method_list_items, BSTR, LONG, LONG, BSTR, BSTR>;
  static constexpr auto stat_item = &with_text<method_stat_item, BSTR, BSTR, BSTR>;
  static constexpr auto query_text_2 = &with_text<method_query_text_2, LONG, BSTR>;
  static constexpr auto query_flag_1 = &with_flag<method_query_flag_1, flag_1_answer, BSTR>;
  static constexpr auto query_flag_2 = &with_flag<method_query_flag_2, flag_2_answer, BSTR, BSTR>;
};

using fault_class = server_class<fault_state, fault_methods>;
using fault_factory = fault_class::factory<mode>;

}  // namespace
}  // namespace ombrix::fault

using namespace ombrix::fault;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    this_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  static fault_factory factories[mode_count] = {};
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (int i = 0; i < mode_count; ++i) {
    if (IsEqualCLSID(clsid, class_of(modes[i].which))) {
      factories[i] = {fault_factory::table_of_functions(), modes[i].which};
      return fault_factory::query_interface(&factories[i], iid, out);
    }
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return live_objects == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  const std::wstring path = module_path(this_module);
  if (path.empty()) return SELFREG_E_CLASS;
  for (const mode_entry& entry : modes) {
    const CLSID clsid = class_of(entry.which);
    if (!register_class(HKEY_CURRENT_USER, entry.progid, clsid, path.c_str(), nullptr)) {
      return SELFREG_E_CLASS;
    }
    // Where writable: Wine looks only there.
    register_class(HKEY_LOCAL_MACHINE, entry.progid, clsid, path.c_str(), nullptr);
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  for (const mode_entry& entry : modes) {
    unregister_class(HKEY_CURRENT_USER, entry.progid, class_of(entry.which));
    unregister_class(HKEY_LOCAL_MACHINE, entry.progid, class_of(entry.which));
  }
  return S_OK;
}

extern "C" const wchar_t* fault_journal() { return journal.c_str(); }
extern "C" void fault_reset() { journal.clear(); }
extern "C" long fault_live_objects() { return live_objects; }
