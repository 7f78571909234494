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

#include <string>

#include "host/com/code_page_units.h"
#include "host/com/velquor_interface.h"
#include "host/com_server/com_object.h"
#include "host/embedded/account_location.h"
#include "host/embedded/account_stores.h"
#include "host/embedded/embedded_host.h"
#include "platform/environment.h"

namespace ombrix::com {
namespace {

// {18135833-5CEC-4A4E-8E44-3F98BB9FE9ED}
constexpr CLSID clsid_velquor71 = {
    0x18135833, 0x5cec, 0x4a4e, {0x8e, 0x44, 0x3f, 0x98, 0xbb, 0x9f, 0xe9, 0xed}};
// {8EEAE7A6-5D03-40AF-8D70-6F2A17554260}
constexpr CLSID clsid_velquor80 = {
    0x8eeae7a6, 0x5d03, 0x40af, {0x8d, 0x70, 0x6f, 0x2a, 0x17, 0x55, 0x42, 0x60}};

HMODULE this_module = nullptr;

// The accounts of the process that loads this server. The module has no main of its own, so
// its entry points read the environment, here, once: OMBRIX_DATA and OMBRIX_ACCOUNT as the
// server reads them. Never destroyed: instances may outlive the module's static destructors.
account_stores& module_stores() {
  static account_stores* const stores =
      new account_stores(data_root_from(platform::environment_value("OMBRIX_DATA").c_str()),
                         default_account_from(platform::environment_value("OMBRIX_ACCOUNT").c_str()));
  return *stores;
}

// What one instance holds: its host. Every interface is offered, error information for both
// generations.
struct host_state {
  explicit host_state(int) : host(module_stores()) {}
  bool offers(REFIID) const { return true; }
  bool offers_support() const { return true; }
  bool supports_error_info(REFIID iid) const {
    return IsEqualIID(iid, iid_velquor71) || IsEqualIID(iid, iid_velquor80);
  }
  embedded_host host;
};
using component = server_object<host_state>;

text text_of(BSTR value) {
  if (value == nullptr) return {};
  return text(reinterpret_cast<const char16_t*>(value), ::SysStringLen(value));
}

// Runs one host operation: S_OK, or the failure's code with its description left as error
// information.
template <class Operation>
HRESULT guarded(Operation&& operation) {
  try {
    operation();
    return S_OK;
  } catch (const _com_error& error) {
    const text description = error.Description();
    const std::wstring wide(description.begin(), description.end());
    set_error_info(wide.c_str(), &iid_velquor71);
    return error.Error();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
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

// The functions of IVelquorServer, each on the instance's host.
struct host_methods {
  static HRESULT STDMETHODCALLTYPE connect(component* self, BSTR server, VARIANT_BOOL* connected) {
    if (connected != nullptr) *connected = VARIANT_FALSE;
    return guarded([&] {
      self->state.host.connect(text_of(server));
      if (connected != nullptr) *connected = VARIANT_TRUE;
    });
  }

  static HRESULT STDMETHODCALLTYPE quit(component* self) {
    return guarded([&] { self->state.host.quit(); });
  }

  static HRESULT STDMETHODCALLTYPE read_item(component* self, BSTR file, BSTR item, LONG a, LONG b,
                                             LONG c, VARIANT_BOOL flag, BSTR* content) {
    if (content != nullptr) *content = nullptr;
    text result;
    const HRESULT code = guarded(
        [&] { result = self->state.host.read_item(text_of(file), text_of(item), a, b, c, flag); });
    return FAILED(code) ? code : give(result, content);
  }

  static HRESULT STDMETHODCALLTYPE write_item(component* self, BSTR file, BSTR item, BSTR content,
                                              LONG a, LONG b, LONG c, LONG d) {
    return guarded([&] {
      self->state.host.write_item(text_of(file), text_of(item), text_of(content), a, b, c, d);
    });
  }

  static HRESULT STDMETHODCALLTYPE create_item(component* self, BSTR file, BSTR item,
                                               BSTR content) {
    return guarded(
        [&] { self->state.host.create_item(text_of(file), text_of(item), text_of(content)); });
  }

  static HRESULT STDMETHODCALLTYPE delete_item(component* self, BSTR file, BSTR item) {
    return guarded([&] { self->state.host.delete_item(text_of(file), text_of(item)); });
  }

  static HRESULT STDMETHODCALLTYPE invoke_pair(component* self, BSTR a, BSTR b) {
    return guarded([&] { self->state.host.invoke_pair(text_of(a), text_of(b)); });
  }

  static HRESULT STDMETHODCALLTYPE query_text_1(component* self, BSTR a, BSTR b, VARIANT_BOOL flag,
                                                BSTR* out) {
    if (out != nullptr) *out = nullptr;
    text result;
    const HRESULT code =
        guarded([&] { result = self->state.host.query_text_1(text_of(a), text_of(b), flag); });
    return FAILED(code) ? code : give(result, out);
  }

  static HRESULT STDMETHODCALLTYPE call_subroutine(component* self, BSTR name, BSTR first,
                                                   BSTR second, BSTR* out) {
    if (out != nullptr) *out = nullptr;
    text result;
    const HRESULT code = guarded([&] {
      const text routine = text_of(name);
      const text parameters =
          routine == u"FTFSCMD" ? command_parameters(text_of(second)) : text_of(second);
      result = self->state.host.call_subroutine(routine, text_of(first), parameters);
    });
    return FAILED(code) ? code : give(result, out);
  }

  // Methods 28 and 47: settings the embedded host has no use for; accepted.
  static HRESULT STDMETHODCALLTYPE setting_28(component*, INT) { return S_OK; }
  static HRESULT STDMETHODCALLTYPE setting_47(component*, VARIANT_BOOL) { return S_OK; }

  template <int method>
  static HRESULT STDMETHODCALLTYPE text_property(component* self, BSTR* out) {
    if (out != nullptr) *out = nullptr;
    text result;
    const HRESULT code = guarded([&] {
      embedded_host& host = self->state.host;
      result = method == method_server_name  ? host.get_server_name()
               : method == method_property_2 ? host.get_property_2()
               : method == method_property_3 ? host.get_property_3()
               : method == method_property_4 ? host.get_property_4()
                                             : host.get_property_5();
    });
    return FAILED(code) ? code : give(result, out);
  }

  static HRESULT STDMETHODCALLTYPE list_items(component* self, BSTR file, LONG attribute,
                                              LONG max_count, BSTR b, BSTR selector, BSTR* out) {
    if (out != nullptr) *out = nullptr;
    text result;
    const HRESULT code = guarded([&] {
      result = self->state.host.list_items(text_of(file), attribute, max_count, text_of(b),
                                           text_of(selector));
    });
    return FAILED(code) ? code : give(result, out);
  }

  static HRESULT STDMETHODCALLTYPE stat_item(component* self, BSTR file, BSTR item, BSTR selector,
                                             BSTR* out) {
    if (out != nullptr) *out = nullptr;
    text result;
    const HRESULT code = guarded([&] {
      result = self->state.host.stat_item(text_of(file), text_of(item), text_of(selector));
    });
    return FAILED(code) ? code : give(result, out);
  }

  static HRESULT STDMETHODCALLTYPE query_flag_1(component* self, BSTR a, VARIANT_BOOL* out) {
    std::int16_t result = 0;
    const HRESULT code = guarded([&] { result = self->state.host.query_flag_1(text_of(a)); });
    if (out != nullptr) *out = result;
    return code;
  }

  static HRESULT STDMETHODCALLTYPE query_flag_2(component* self, BSTR a, BSTR b,
                                                VARIANT_BOOL* out) {
    std::int16_t result = 0;
    const HRESULT code =
        guarded([&] { result = self->state.host.query_flag_2(text_of(a), text_of(b)); });
    if (out != nullptr) *out = result;
    return code;
  }

  static HRESULT STDMETHODCALLTYPE query_text_2(component* self, LONG value, BSTR a, BSTR* out) {
    if (out != nullptr) *out = nullptr;
    text result;
    const HRESULT code =
        guarded([&] { result = self->state.host.query_text_2(value, text_of(a)); });
    return FAILED(code) ? code : give(result, out);
  }
};

using host_class = server_class<host_state, host_methods>;
host_class::factory<int> the_factory{host_class::factory<int>::table_of_functions(), 0};

constexpr struct {
  const wchar_t* progid;
  const CLSID* clsid;
} registrations[] = {{progid_velquor71, &clsid_velquor71}, {progid_velquor80, &clsid_velquor80}};

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
  return the_factory.query_interface(&the_factory, iid, out);
}

STDAPI DllCanUnloadNow() { return live_objects == 0 ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() {
  const std::wstring path = module_path(this_module);
  if (path.empty()) return SELFREG_E_CLASS;
  for (const auto& entry : registrations) {
    if (!register_class(HKEY_CURRENT_USER, entry.progid, *entry.clsid, path.c_str(),
                        L"Ombrix embedded host")) {
      return SELFREG_E_CLASS;
    }
  }
  return S_OK;
}

STDAPI DllUnregisterServer() {
  for (const auto& entry : registrations) {
    unregister_class(HKEY_CURRENT_USER, entry.progid, *entry.clsid);
  }
  return S_OK;
}
