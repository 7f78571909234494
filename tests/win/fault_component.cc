// ombrix-fault-host.dll: an in-process test component offering IVelquorServer (both interface
// identifiers, one layout) with the faults of tests/win/fault_modes.h, one class per fault. It
// keeps a journal of the calls it receives, so that tests can check what the bindings pass.
// Apartment-threaded; the journal is not locked (the tests use one thread). Registered for the
// current user, and also in the machine part of the registry where that is writable (Wine reads
// classes only from there). Tests only: never installed or shipped.
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <new>
#include <string>

#include "host/com/velquor_interface.h"
#include "tests/win/fault_modes.h"

namespace ombrix::fault {
namespace {

using namespace ombrix::com;

HMODULE this_module = nullptr;
std::atomic<long> live_objects{0};
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
    reinterpret_cast<void*>(&bad_query_interface), reinterpret_cast<void*>(&bad_add_ref),
    reinterpret_cast<void*>(&bad_release),         reinterpret_cast<void*>(&bad_guid),
    reinterpret_cast<void*>(&bad_text),            reinterpret_cast<void*>(&bad_text),
    reinterpret_cast<void*>(&bad_text),            reinterpret_cast<void*>(&bad_context),
};
struct {
  void** table = bad_info_table;
} bad_info;

// Leaves `description` as this thread's error information.
void leave_error_info(const char16_t* description) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create)) || create == nullptr) return;
  create->SetDescription(const_cast<LPOLESTR>(reinterpret_cast<const wchar_t*>(description)));
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    ::SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

struct component;
struct support_part {
  void** table;
  component* owner;
};
struct component {
  void** table;
  support_part support;
  std::atomic<ULONG> references{1};
  mode which;
  bool settled = false;  // method 47 has been called
};

bool is_operation(int method) {
  return method != method_connect && method != method_setting_28 && method != method_setting_47;
}

// What a call of `method` answers in the component's mode, its error information left.
HRESULT outcome(const component* self, int method) {
  switch (self->which) {
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
  if (FAILED(code) || out == nullptr || self->which == mode::null_results) return code;
  const std::wstring value = method == method_read_item
                                 ? std::wstring(item_text, item_text + item_text_length)
                                 : L"m" + std::to_wstring(method);
  *out = ::SysAllocStringLen(value.data(), static_cast<UINT>(value.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

HRESULT STDMETHODCALLTYPE query_interface(component* self, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (IsEqualIID(iid, IID_IUnknown)) {
    if (self->which == mode::no_unknown && self->settled) return E_NOINTERFACE;
    *out = self;
  } else if (IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, iid_velquor71) ||
             IsEqualIID(iid, iid_velquor80)) {
    if (self->which == mode::no_generation) return E_NOINTERFACE;
    *out = self;
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo) && self->which != mode::fails_no_support) {
    *out = &self->support;
  } else {
    return E_NOINTERFACE;
  }
  ++self->references;
  return S_OK;
}
ULONG STDMETHODCALLTYPE add_ref(component* self) { return ++self->references; }
ULONG STDMETHODCALLTYPE release(component* self) {
  const ULONG left = --self->references;
  if (left == 0) {
    delete self;
    --live_objects;
  }
  return left;
}
HRESULT STDMETHODCALLTYPE not_implemented() { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE connect(component* self, BSTR server, VARIANT_BOOL* connected) {
  note(method_connect, server);
  if (connected != nullptr) *connected = VARIANT_FALSE;
  const HRESULT code = outcome(self, method_connect);
  if (SUCCEEDED(code) && connected != nullptr && self->which != mode::connect_false) {
    *connected = VARIANT_TRUE;
  }
  return code;
}
HRESULT STDMETHODCALLTYPE quit(component* self) {
  note(method_quit);
  return outcome(self, method_quit);
}
HRESULT STDMETHODCALLTYPE read_item(component* self, BSTR file, BSTR item, LONG a, LONG b, LONG c,
                                    VARIANT_BOOL flag, BSTR* out) {
  note(method_read_item, file, item, a, b, c, flag);
  return answer_text(self, method_read_item, out);
}
HRESULT STDMETHODCALLTYPE write_item(component* self, BSTR file, BSTR item, BSTR content, LONG a,
                                     LONG b, LONG c, LONG d) {
  note(method_write_item, file, item, content, a, b, c, d);
  return outcome(self, method_write_item);
}
HRESULT STDMETHODCALLTYPE create_item(component* self, BSTR file, BSTR item, BSTR content) {
  note(method_create_item, file, item, content);
  return outcome(self, method_create_item);
}
HRESULT STDMETHODCALLTYPE delete_item(component* self, BSTR file, BSTR item) {
  note(method_delete_item, file, item);
  return outcome(self, method_delete_item);
}
HRESULT STDMETHODCALLTYPE invoke_pair(component* self, BSTR a, BSTR b) {
  note(method_invoke_pair, a, b);
  return outcome(self, method_invoke_pair);
}
HRESULT STDMETHODCALLTYPE query_text_1(component* self, BSTR a, BSTR b, VARIANT_BOOL flag,
                                       BSTR* out) {
  note(method_query_text_1, a, b, flag);
  return answer_text(self, method_query_text_1, out);
}
HRESULT STDMETHODCALLTYPE call_subroutine(component* self, BSTR name, BSTR first, BSTR second,
                                          BSTR* out) {
  note(method_call_subroutine, name, first, second);
  return answer_text(self, method_call_subroutine, out);
}
HRESULT STDMETHODCALLTYPE setting_28(component* self, INT value) {
  note(method_setting_28, value);
  return outcome(self, method_setting_28);
}
HRESULT STDMETHODCALLTYPE setting_47(component* self, VARIANT_BOOL value) {
  note(method_setting_47, value);
  self->settled = true;
  return outcome(self, method_setting_47);
}
template <int method>
HRESULT STDMETHODCALLTYPE text_property(component* self, BSTR* out) {
  note(method);
  return answer_text(self, method, out);
}
HRESULT STDMETHODCALLTYPE list_items(component* self, BSTR file, LONG attribute, LONG max_count,
                                     BSTR b, BSTR selector, BSTR* out) {
  note(method_list_items, file, attribute, max_count, b, selector);
  return answer_text(self, method_list_items, out);
}
HRESULT STDMETHODCALLTYPE stat_item(component* self, BSTR file, BSTR item, BSTR selector,
                                    BSTR* out) {
  note(method_stat_item, file, item, selector);
  return answer_text(self, method_stat_item, out);
}
HRESULT STDMETHODCALLTYPE query_flag_1(component* self, BSTR a, VARIANT_BOOL* out) {
  note(method_query_flag_1, a);
  const HRESULT code = outcome(self, method_query_flag_1);
  if (out != nullptr) *out = SUCCEEDED(code) ? flag_1_answer : 0;
  return code;
}
HRESULT STDMETHODCALLTYPE query_flag_2(component* self, BSTR a, BSTR b, VARIANT_BOOL* out) {
  note(method_query_flag_2, a, b);
  const HRESULT code = outcome(self, method_query_flag_2);
  if (out != nullptr) *out = SUCCEEDED(code) ? flag_2_answer : 0;
  return code;
}
HRESULT STDMETHODCALLTYPE query_text_2(component* self, LONG value, BSTR a, BSTR* out) {
  note(method_query_text_2, value, a);
  return answer_text(self, method_query_text_2, out);
}

struct server_table {
  void* entries[method_count];
  server_table() {
    for (void*& entry : entries) entry = reinterpret_cast<void*>(&not_implemented);
    entries[0] = reinterpret_cast<void*>(&query_interface);
    entries[1] = reinterpret_cast<void*>(&add_ref);
    entries[2] = reinterpret_cast<void*>(&release);
    entries[method_connect] = reinterpret_cast<void*>(&connect);
    entries[method_quit] = reinterpret_cast<void*>(&quit);
    entries[method_read_item] = reinterpret_cast<void*>(&read_item);
    entries[method_write_item] = reinterpret_cast<void*>(&write_item);
    entries[method_create_item] = reinterpret_cast<void*>(&create_item);
    entries[method_delete_item] = reinterpret_cast<void*>(&delete_item);
    entries[method_invoke_pair] = reinterpret_cast<void*>(&invoke_pair);
    entries[method_query_text_1] = reinterpret_cast<void*>(&query_text_1);
    entries[method_call_subroutine] = reinterpret_cast<void*>(&call_subroutine);
    entries[method_setting_28] = reinterpret_cast<void*>(&setting_28);
    entries[method_server_name] = reinterpret_cast<void*>(&text_property<method_server_name>);
    entries[method_property_2] = reinterpret_cast<void*>(&text_property<method_property_2>);
    entries[method_property_3] = reinterpret_cast<void*>(&text_property<method_property_3>);
    entries[method_property_4] = reinterpret_cast<void*>(&text_property<method_property_4>);
    entries[method_property_5] = reinterpret_cast<void*>(&text_property<method_property_5>);
    entries[method_list_items] = reinterpret_cast<void*>(&list_items);
    entries[method_stat_item] = reinterpret_cast<void*>(&stat_item);
    entries[method_query_flag_1] = reinterpret_cast<void*>(&query_flag_1);
    entries[method_query_flag_2] = reinterpret_cast<void*>(&query_flag_2);
    entries[method_query_text_2] = reinterpret_cast<void*>(&query_text_2);
    entries[method_setting_47] = reinterpret_cast<void*>(&setting_47);
  }
};
server_table the_server_table;

component* owner_of(void* part) { return static_cast<support_part*>(part)->owner; }
HRESULT STDMETHODCALLTYPE support_query_interface(void* part, REFIID iid, void** out) {
  return query_interface(owner_of(part), iid, out);
}
ULONG STDMETHODCALLTYPE support_add_ref(void* part) { return add_ref(owner_of(part)); }
ULONG STDMETHODCALLTYPE support_release(void* part) { return release(owner_of(part)); }
HRESULT STDMETHODCALLTYPE interface_supports_error_info(void* part, REFIID iid) {
  if (IsEqualIID(iid, iid_velquor80)) return S_OK;
  if (IsEqualIID(iid, iid_velquor71) && owner_of(part)->which != mode::fails_80_only) return S_OK;
  return S_FALSE;
}
void* support_table[] = {
    reinterpret_cast<void*>(&support_query_interface),
    reinterpret_cast<void*>(&support_add_ref),
    reinterpret_cast<void*>(&support_release),
    reinterpret_cast<void*>(&interface_supports_error_info),
};

// One class factory object per mode.
struct factory {
  void** table;
  mode which;
};
HRESULT STDMETHODCALLTYPE factory_query_interface(factory* self, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *out = self;
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE factory_add_ref(factory*) { return 2; }
ULONG STDMETHODCALLTYPE factory_release(factory*) { return 1; }
HRESULT STDMETHODCALLTYPE factory_create_instance(factory* self, IUnknown* outer, REFIID iid,
                                                  void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* instance = new (std::nothrow) component{the_server_table.entries, {}, {1}, self->which};
  if (instance == nullptr) return E_OUTOFMEMORY;
  instance->support = {support_table, instance};
  ++live_objects;
  const HRESULT code = query_interface(instance, iid, out);
  release(instance);
  return code;
}
HRESULT STDMETHODCALLTYPE factory_lock_server(factory*, BOOL) { return S_OK; }
void* factory_table[] = {
    reinterpret_cast<void*>(&factory_query_interface),
    reinterpret_cast<void*>(&factory_add_ref),
    reinterpret_cast<void*>(&factory_release),
    reinterpret_cast<void*>(&factory_create_instance),
    reinterpret_cast<void*>(&factory_lock_server),
};

std::wstring guid_text(const GUID& guid) {
  wchar_t buffer[64] = {};
  ::StringFromGUID2(guid, buffer, 64);
  return buffer;
}

bool set_value(HKEY root, const std::wstring& key, const wchar_t* name,
               const std::wstring& value) {
  HKEY handle = nullptr;
  if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle,
                        nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

const std::wstring classes = L"Software\\Classes\\";

bool register_under(HKEY root, const std::wstring& path) {
  for (const mode_entry& entry : modes) {
    const std::wstring clsid = guid_text(class_of(entry.which));
    const std::wstring class_key = classes + L"CLSID\\" + clsid;
    const bool written = set_value(root, classes + entry.progid + L"\\CLSID", nullptr, clsid) &&
                         set_value(root, class_key + L"\\ProgID", nullptr, entry.progid) &&
                         set_value(root, class_key + L"\\InprocServer32", nullptr, path) &&
                         set_value(root, class_key + L"\\InprocServer32", L"ThreadingModel",
                                   L"Apartment");
    if (!written) return false;
  }
  return true;
}

void unregister_under(HKEY root) {
  for (const mode_entry& entry : modes) {
    ::RegDeleteTreeW(root, (classes + entry.progid).c_str());
    ::RegDeleteTreeW(root, (classes + L"CLSID\\" + guid_text(class_of(entry.which))).c_str());
  }
}

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
  static factory factories[mode_count] = {};
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  for (int i = 0; i < mode_count; ++i) {
    if (IsEqualCLSID(clsid, class_of(modes[i].which))) {
      factories[i] = {factory_table, modes[i].which};
      return factory_query_interface(&factories[i], iid, out);
    }
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow() { return live_objects == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(this_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  if (!register_under(HKEY_CURRENT_USER, path)) return SELFREG_E_CLASS;
  register_under(HKEY_LOCAL_MACHINE, path);  // where writable: Wine looks only there
  return S_OK;
}

STDAPI DllUnregisterServer() {
  unregister_under(HKEY_CURRENT_USER);
  unregister_under(HKEY_LOCAL_MACHINE);
  return S_OK;
}

extern "C" const wchar_t* fault_journal() { return journal.c_str(); }
extern "C" void fault_reset() { journal.clear(); }
extern "C" long fault_live_objects() { return live_objects; }
