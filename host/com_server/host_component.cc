// ombrix-host.dll: the embedded host as an in-process COM server. Each instance wraps one
// embedded_host and offers IVelquorServer under both generations' interface identifiers (one
// layout), ISupportErrorInfo for both, and reports failures through IErrorInfo. Instances are
// apartment-threaded: each is used on the thread that created it. DllRegisterServer writes the
// two ProgIDs and classes under HKEY_CURRENT_USER\Software\Classes; DllUnregisterServer removes
// exactly those keys. FTFSCMD's file name and item id arrive as code-page units and are read
// back through the same code page.
#include <objbase.h>
#include <oleauto.h>
#include <olectl.h>
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>

#include "host/com/code_page_units.h"
#include "host/com/velquor_interface.h"
#include "host/embedded/account_location.h"
#include "host/embedded/account_stores.h"
#include "host/embedded/embedded_host.h"

namespace ombrix::com {
namespace {

// {18135833-5CEC-4A4E-8E44-3F98BB9FE9ED}
constexpr CLSID clsid_velquor71 = {
    0x18135833, 0x5cec, 0x4a4e, {0x8e, 0x44, 0x3f, 0x98, 0xbb, 0x9f, 0xe9, 0xed}};
// {8EEAE7A6-5D03-40AF-8D70-6F2A17554260}
constexpr CLSID clsid_velquor80 = {
    0x8eeae7a6, 0x5d03, 0x40af, {0x8d, 0x70, 0x6f, 0x2a, 0x17, 0x55, 0x42, 0x60}};

HMODULE this_module = nullptr;
std::atomic<long> live_objects{0};

text text_of(BSTR value) {
  if (value == nullptr) return {};
  return text(reinterpret_cast<const char16_t*>(value), ::SysStringLen(value));
}

// Hands a text to the caller as a new BSTR.
HRESULT give(const text& value, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()),
                             static_cast<UINT>(value.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// Leaves `description` as this thread's error information for the caller.
void set_error_info(const text& description, const IID& iid) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create)) || create == nullptr) return;
  const std::wstring wide(description.begin(), description.end());
  create->SetDescription(const_cast<LPOLESTR>(wide.c_str()));
  create->SetGUID(iid);
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    ::SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

struct component;

// The second interface of an instance, ISupportErrorInfo; it lives inside the component.
struct support_part {
  void** table;
  component* owner;
};

struct component {
  explicit component(account_stores& stores) : host(stores) {}

  void** table = nullptr;  // IVelquorServer (and IUnknown and IDispatch)
  support_part support{};
  std::atomic<ULONG> references{1};
  embedded_host host;
};

// The accounts of the process that loads this server. The module has no main of its own, so
// its entry points read the environment, here, once: OMBRIX_DATA and OMBRIX_ACCOUNT as the
// server reads them. Never destroyed: instances may outlive the module's static destructors.
account_stores& module_stores() {
  static account_stores* const stores =
      new account_stores(data_root_from(std::getenv("OMBRIX_DATA")),
                         default_account_from(std::getenv("OMBRIX_ACCOUNT")));
  return *stores;
}

component* from_support(void* part) { return static_cast<support_part*>(part)->owner; }

// Runs one host operation: S_OK, or the failure's code with its description left as error
// information.
template <class Operation>
HRESULT guarded(Operation&& operation) {
  try {
    operation();
    return S_OK;
  } catch (const _com_error& error) {
    set_error_info(error.Description(), iid_velquor71);
    return error.Error();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT STDMETHODCALLTYPE query_interface(component* self, REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
      IsEqualIID(iid, iid_velquor71) || IsEqualIID(iid, iid_velquor80)) {
    *out = self;
  } else if (IsEqualIID(iid, IID_ISupportErrorInfo)) {
    *out = &self->support;
  } else {
    *out = nullptr;
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

// IDispatch is offered only for its shape: the server calls the table directly.
HRESULT STDMETHODCALLTYPE get_type_info_count(component*, UINT* count) {
  if (count != nullptr) *count = 0;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE not_implemented() { return E_NOTIMPL; }

HRESULT STDMETHODCALLTYPE connect(component* self, BSTR server, VARIANT_BOOL* connected) {
  if (connected != nullptr) *connected = VARIANT_FALSE;
  return guarded([&] {
    self->host.connect(text_of(server));
    if (connected != nullptr) *connected = VARIANT_TRUE;
  });
}

HRESULT STDMETHODCALLTYPE quit(component* self) {
  return guarded([&] { self->host.quit(); });
}

HRESULT STDMETHODCALLTYPE read_item(component* self, BSTR file, BSTR item, LONG a, LONG b,
                                    LONG c, VARIANT_BOOL flag, BSTR* content) {
  if (content != nullptr) *content = nullptr;
  text result;
  const HRESULT code = guarded(
      [&] { result = self->host.read_item(text_of(file), text_of(item), a, b, c, flag); });
  return FAILED(code) ? code : give(result, content);
}

HRESULT STDMETHODCALLTYPE write_item(component* self, BSTR file, BSTR item, BSTR content, LONG a,
                                     LONG b, LONG c, LONG d) {
  return guarded([&] {
    self->host.write_item(text_of(file), text_of(item), text_of(content), a, b, c, d);
  });
}

HRESULT STDMETHODCALLTYPE create_item(component* self, BSTR file, BSTR item, BSTR content) {
  return guarded(
      [&] { self->host.create_item(text_of(file), text_of(item), text_of(content)); });
}

HRESULT STDMETHODCALLTYPE delete_item(component* self, BSTR file, BSTR item) {
  return guarded([&] { self->host.delete_item(text_of(file), text_of(item)); });
}

HRESULT STDMETHODCALLTYPE invoke_pair(component* self, BSTR a, BSTR b) {
  return guarded([&] { self->host.invoke_pair(text_of(a), text_of(b)); });
}

HRESULT STDMETHODCALLTYPE query_text_1(component* self, BSTR a, BSTR b, VARIANT_BOOL flag,
                                       BSTR* out) {
  if (out != nullptr) *out = nullptr;
  text result;
  const HRESULT code =
      guarded([&] { result = self->host.query_text_1(text_of(a), text_of(b), flag); });
  return FAILED(code) ? code : give(result, out);
}

// The parameter text of FTFSCMD with lines 1 and 2 (file name and item id) read back from
// the code-page units the server sends there into the 16-bit text the embedded host takes.
text command_parameters(const text& parameters) {
  text out;
  std::size_t start = 0;
  for (int line = 0; line < 2; ++line) {
    const std::size_t end = parameters.find(u"\r\n", start);
    out += from_code_page_units(std::u16string_view(parameters).substr(start, end - start));
    if (end == text::npos) return out;
    out += u"\r\n";
    start = end + 2;
  }
  out.append(parameters, start);
  return out;
}

HRESULT STDMETHODCALLTYPE call_subroutine(component* self, BSTR name, BSTR first, BSTR second,
                                          BSTR* out) {
  if (out != nullptr) *out = nullptr;
  text result;
  const HRESULT code = guarded([&] {
    const text routine = text_of(name);
    const text parameters =
        routine == u"FTFSCMD" ? command_parameters(text_of(second)) : text_of(second);
    result = self->host.call_subroutine(routine, text_of(first), parameters);
  });
  return FAILED(code) ? code : give(result, out);
}

// Methods 28 and 47: settings the embedded host has no use for; accepted.
HRESULT STDMETHODCALLTYPE setting_28(component*, INT) { return S_OK; }
HRESULT STDMETHODCALLTYPE setting_47(component*, VARIANT_BOOL) { return S_OK; }

template <text (embedded_host::*property)()>
HRESULT STDMETHODCALLTYPE text_property(component* self, BSTR* out) {
  if (out != nullptr) *out = nullptr;
  text result;
  const HRESULT code = guarded([&] { result = (self->host.*property)(); });
  return FAILED(code) ? code : give(result, out);
}

HRESULT STDMETHODCALLTYPE list_items(component* self, BSTR file, LONG attribute, LONG max_count,
                                     BSTR b, BSTR selector, BSTR* out) {
  if (out != nullptr) *out = nullptr;
  text result;
  const HRESULT code = guarded([&] {
    result = self->host.list_items(text_of(file), attribute, max_count, text_of(b),
                                   text_of(selector));
  });
  return FAILED(code) ? code : give(result, out);
}

HRESULT STDMETHODCALLTYPE stat_item(component* self, BSTR file, BSTR item, BSTR selector,
                                    BSTR* out) {
  if (out != nullptr) *out = nullptr;
  text result;
  const HRESULT code = guarded([&] {
    result = self->host.stat_item(text_of(file), text_of(item), text_of(selector));
  });
  return FAILED(code) ? code : give(result, out);
}

HRESULT STDMETHODCALLTYPE query_flag_1(component* self, BSTR a, VARIANT_BOOL* out) {
  std::int16_t result = 0;
  const HRESULT code = guarded([&] { result = self->host.query_flag_1(text_of(a)); });
  if (out != nullptr) *out = result;
  return code;
}

HRESULT STDMETHODCALLTYPE query_flag_2(component* self, BSTR a, BSTR b, VARIANT_BOOL* out) {
  std::int16_t result = 0;
  const HRESULT code = guarded([&] { result = self->host.query_flag_2(text_of(a), text_of(b)); });
  if (out != nullptr) *out = result;
  return code;
}

HRESULT STDMETHODCALLTYPE query_text_2(component* self, LONG value, BSTR a, BSTR* out) {
  if (out != nullptr) *out = nullptr;
  text result;
  const HRESULT code = guarded([&] { result = self->host.query_text_2(value, text_of(a)); });
  return FAILED(code) ? code : give(result, out);
}

// The table of functions of IVelquorServer; unused entries fail with E_NOTIMPL.
struct server_table {
  void* entries[method_count];
  server_table() {
    for (void*& entry : entries) entry = reinterpret_cast<void*>(&not_implemented);
    entries[0] = reinterpret_cast<void*>(&query_interface);
    entries[1] = reinterpret_cast<void*>(&add_ref);
    entries[2] = reinterpret_cast<void*>(&release);
    entries[3] = reinterpret_cast<void*>(&get_type_info_count);
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
    entries[method_server_name] =
        reinterpret_cast<void*>(&text_property<&embedded_host::get_server_name>);
    entries[method_property_2] =
        reinterpret_cast<void*>(&text_property<&embedded_host::get_property_2>);
    entries[method_property_3] =
        reinterpret_cast<void*>(&text_property<&embedded_host::get_property_3>);
    entries[method_property_4] =
        reinterpret_cast<void*>(&text_property<&embedded_host::get_property_4>);
    entries[method_property_5] =
        reinterpret_cast<void*>(&text_property<&embedded_host::get_property_5>);
    entries[method_list_items] = reinterpret_cast<void*>(&list_items);
    entries[method_stat_item] = reinterpret_cast<void*>(&stat_item);
    entries[method_query_flag_1] = reinterpret_cast<void*>(&query_flag_1);
    entries[method_query_flag_2] = reinterpret_cast<void*>(&query_flag_2);
    entries[method_query_text_2] = reinterpret_cast<void*>(&query_text_2);
    entries[method_setting_47] = reinterpret_cast<void*>(&setting_47);
  }
};

HRESULT STDMETHODCALLTYPE support_query_interface(void* part, REFIID iid, void** out) {
  return query_interface(from_support(part), iid, out);
}
ULONG STDMETHODCALLTYPE support_add_ref(void* part) { return add_ref(from_support(part)); }
ULONG STDMETHODCALLTYPE support_release(void* part) { return release(from_support(part)); }
// Error information is given for both generations' identifiers.
HRESULT STDMETHODCALLTYPE interface_supports_error_info(void*, REFIID iid) {
  return IsEqualIID(iid, iid_velquor71) || IsEqualIID(iid, iid_velquor80) ? S_OK : S_FALSE;
}

void* support_table[] = {
    reinterpret_cast<void*>(&support_query_interface),
    reinterpret_cast<void*>(&support_add_ref),
    reinterpret_cast<void*>(&support_release),
    reinterpret_cast<void*>(&interface_supports_error_info),
};

server_table& the_server_table() {
  static server_table table;
  return table;
}

// The class factory, one static object for both classes.
struct factory {
  void** table;
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

HRESULT STDMETHODCALLTYPE factory_create_instance(factory*, IUnknown* outer, REFIID iid,
                                                  void** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  auto* instance = new (std::nothrow) component(module_stores());
  if (instance == nullptr) return E_OUTOFMEMORY;
  instance->table = the_server_table().entries;
  instance->support.table = support_table;
  instance->support.owner = instance;
  ++live_objects;
  const HRESULT code = query_interface(instance, iid, out);
  release(instance);  // the reference of construction; *out holds its own when it worked
  return code;
}

HRESULT STDMETHODCALLTYPE factory_lock_server(factory*, BOOL lock) {
  if (lock) {
    ++live_objects;
  } else {
    --live_objects;
  }
  return S_OK;
}

void* factory_table[] = {
    reinterpret_cast<void*>(&factory_query_interface),
    reinterpret_cast<void*>(&factory_add_ref),
    reinterpret_cast<void*>(&factory_release),
    reinterpret_cast<void*>(&factory_create_instance),
    reinterpret_cast<void*>(&factory_lock_server),
};
factory the_factory{factory_table};

// ---- Registration under HKEY_CURRENT_USER\Software\Classes ---------------------------------

std::wstring guid_text(const GUID& guid) {
  wchar_t buffer[64] = {};
  ::StringFromGUID2(guid, buffer, 64);
  return buffer;
}

bool set_value(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  if (::RegCreateKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                        &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

struct registration {
  const wchar_t* progid;
  const CLSID* clsid;
};
constexpr registration registrations[] = {{progid_velquor71, &clsid_velquor71},
                                          {progid_velquor80, &clsid_velquor80}};

const std::wstring classes = L"Software\\Classes\\";

}  // namespace
}  // namespace ombrix::com

using namespace ombrix::com;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    this_module = instance;
    ::DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (!IsEqualCLSID(clsid, clsid_velquor71) && !IsEqualCLSID(clsid, clsid_velquor80)) {
    return CLASS_E_CLASSNOTAVAILABLE;
  }
  return factory_query_interface(&the_factory, iid, out);
}

STDAPI DllCanUnloadNow() { return live_objects == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(this_module, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return SELFREG_E_CLASS;
  for (const registration& entry : registrations) {
    const std::wstring clsid = guid_text(*entry.clsid);
    const std::wstring class_key = classes + L"CLSID\\" + clsid;
    const bool written =
        set_value(classes + entry.progid, nullptr, L"Ombrix embedded host") &&
        set_value(classes + entry.progid + L"\\CLSID", nullptr, clsid) &&
        set_value(class_key, nullptr, L"Ombrix embedded host") &&
        set_value(class_key + L"\\ProgID", nullptr, entry.progid) &&
        set_value(class_key + L"\\InprocServer32", nullptr, path) &&
        set_value(class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    if (!written) return SELFREG_E_CLASS;
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  for (const registration& entry : registrations) {
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (classes + entry.progid).c_str());
    ::RegDeleteTreeW(HKEY_CURRENT_USER, (classes + L"CLSID\\" + guid_text(*entry.clsid)).c_str());
  }
  return S_OK;
}
