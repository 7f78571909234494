// The parts every in-process server of IVelquorServer is made of: the object (its table of
// functions first, then its ISupportErrorInfo part and its reference count), IUnknown and
// ISupportErrorInfo over it, the class factory, error information, BSTR results and the
// registry entries of a class. A server supplies its State (what one instance holds, made from
// the factory's Argument) and its Methods (the functions of the table, each taking the object).
// Header only: each server module has its own count of live objects. Windows builds only;
// objects are apartment-threaded, the count is atomic.
#pragma once

#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <atomic>
#include <new>
#include <string>
#include <string_view>

#include "host/com/velquor_interface.h"

namespace ombrix::com {

// Instances and server locks not yet released in this module (DllCanUnloadNow).
inline std::atomic<long> live_objects{0};

// Leaves `description` (with `guid`, when not null) as this thread's error information.
inline void set_error_info(const wchar_t* description, const GUID* guid) {
  ICreateErrorInfo* create = nullptr;
  if (FAILED(::CreateErrorInfo(&create)) || create == nullptr) return;
  create->SetDescription(const_cast<LPOLESTR>(description));
  if (guid != nullptr) create->SetGUID(*guid);
  IErrorInfo* info = nullptr;
  if (SUCCEEDED(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)))) {
    ::SetErrorInfo(0, info);
    info->Release();
  }
  create->Release();
}

// Hands `value` to the caller as a new BSTR.
inline HRESULT give(std::u16string_view value, BSTR* out) {
  if (out == nullptr) return E_POINTER;
  *out = ::SysAllocStringLen(reinterpret_cast<const OLECHAR*>(value.data()),
                             static_cast<UINT>(value.size()));
  return *out == nullptr ? E_OUTOFMEMORY : S_OK;
}

// One instance: the table of IVelquorServer (also its IUnknown and IDispatch), the table of
// ISupportErrorInfo with a way back to the instance, the references, the server's state.
template <class State>
struct server_object {
  struct support_part {
    void** table;
    server_object* owner;
  };
  void** table;
  support_part support;
  std::atomic<ULONG> references{1};
  State state;
};

// IUnknown, ISupportErrorInfo and the class factory over server_object<State>. State answers
// which interfaces it offers: offers(iid) for IUnknown, IDispatch and both generations' ids,
// offers_support() for ISupportErrorInfo, supports_error_info(iid).
template <class State, class Methods>
struct server_class {
  using object = server_object<State>;

  static HRESULT STDMETHODCALLTYPE query_interface(object* self, REFIID iid, void** out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) ||
        IsEqualIID(iid, iid_velquor71) || IsEqualIID(iid, iid_velquor80)) {
      if (!self->state.offers(iid)) return E_NOINTERFACE;
      *out = self;
    } else if (IsEqualIID(iid, IID_ISupportErrorInfo) && self->state.offers_support()) {
      *out = &self->support;
    } else {
      return E_NOINTERFACE;
    }
    ++self->references;
    return S_OK;
  }
  static ULONG STDMETHODCALLTYPE add_ref(object* self) { return ++self->references; }
  static ULONG STDMETHODCALLTYPE release(object* self) {
    const ULONG left = --self->references;
    if (left == 0) {
      delete self;
      --live_objects;
    }
    return left;
  }
  static HRESULT STDMETHODCALLTYPE not_implemented() { return E_NOTIMPL; }
  // IDispatch is offered only for its shape: clients call the table directly.
  static HRESULT STDMETHODCALLTYPE get_type_info_count(object*, UINT* count) {
    if (count != nullptr) *count = 0;
    return S_OK;
  }

  // The table of functions of IVelquorServer; entries Methods leaves out fail with E_NOTIMPL.
  // Methods names static functions or constant function pointers, and text_property<method>.
  static void** server_table() {
    static void* entries[method_count];
    static const bool filled = [] {
      for (void*& entry : entries) entry = reinterpret_cast<void*>(&not_implemented);
      const auto set = [](int index, auto function) {
        entries[index] = reinterpret_cast<void*>(function);
      };
      set(0, &query_interface);
      set(1, &add_ref);
      set(2, &release);
      set(3, &get_type_info_count);
      set(method_connect, Methods::connect);
      set(method_quit, Methods::quit);
      set(method_read_item, Methods::read_item);
      set(method_write_item, Methods::write_item);
      set(method_create_item, Methods::create_item);
      set(method_delete_item, Methods::delete_item);
      set(method_invoke_pair, Methods::invoke_pair);
      set(method_query_text_1, Methods::query_text_1);
      set(method_call_subroutine, Methods::call_subroutine);
      set(method_setting_28, Methods::setting_28);
      set(method_server_name, &Methods::template text_property<method_server_name>);
      set(method_property_2, &Methods::template text_property<method_property_2>);
      set(method_property_3, &Methods::template text_property<method_property_3>);
      set(method_property_4, &Methods::template text_property<method_property_4>);
      set(method_property_5, &Methods::template text_property<method_property_5>);
      set(method_list_items, Methods::list_items);
      set(method_stat_item, Methods::stat_item);
      set(method_query_flag_1, Methods::query_flag_1);
      set(method_query_flag_2, Methods::query_flag_2);
      set(method_query_text_2, Methods::query_text_2);
      set(method_setting_47, Methods::setting_47);
      return true;
    }();
    (void)filled;
    return entries;
  }

  static object* owner_of(void* part) {
    return static_cast<typename object::support_part*>(part)->owner;
  }
  static HRESULT STDMETHODCALLTYPE support_query_interface(void* part, REFIID iid, void** out) {
    return query_interface(owner_of(part), iid, out);
  }
  static ULONG STDMETHODCALLTYPE support_add_ref(void* part) { return add_ref(owner_of(part)); }
  static ULONG STDMETHODCALLTYPE support_release(void* part) { return release(owner_of(part)); }
  static HRESULT STDMETHODCALLTYPE interface_supports_error_info(void* part, REFIID iid) {
    return owner_of(part)->state.supports_error_info(iid) ? S_OK : S_FALSE;
  }
  static void** support_table() {
    static void* entries[] = {
        reinterpret_cast<void*>(&support_query_interface),
        reinterpret_cast<void*>(&support_add_ref),
        reinterpret_cast<void*>(&support_release),
        reinterpret_cast<void*>(&interface_supports_error_info),
    };
    return entries;
  }

  // A class factory: a static object (never counted) making instances from `argument`.
  template <class Argument>
  struct factory {
    void** table;
    Argument argument;

    static HRESULT STDMETHODCALLTYPE query_interface(factory* self, REFIID iid, void** out) {
      if (out == nullptr) return E_POINTER;
      if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
        *out = self;
        return S_OK;
      }
      *out = nullptr;
      return E_NOINTERFACE;
    }
    static ULONG STDMETHODCALLTYPE add_ref(factory*) { return 2; }
    static ULONG STDMETHODCALLTYPE release(factory*) { return 1; }
    static HRESULT STDMETHODCALLTYPE create_instance(factory* self, IUnknown* outer, REFIID iid,
                                                     void** out) {
      if (out == nullptr) return E_POINTER;
      *out = nullptr;
      if (outer != nullptr) return CLASS_E_NOAGGREGATION;
      auto* instance = new (std::nothrow) object{server_table(), {}, {1}, State(self->argument)};
      if (instance == nullptr) return E_OUTOFMEMORY;
      instance->support = {support_table(), instance};
      ++live_objects;
      const HRESULT code = server_class::query_interface(instance, iid, out);
      server_class::release(instance);  // construction's reference; *out holds its own
      return code;
    }
    static HRESULT STDMETHODCALLTYPE lock_server(factory*, BOOL lock) {
      if (lock) {
        ++live_objects;
      } else {
        --live_objects;
      }
      return S_OK;
    }
    static void** table_of_functions() {
      static void* entries[] = {
          reinterpret_cast<void*>(&query_interface), reinterpret_cast<void*>(&add_ref),
          reinterpret_cast<void*>(&release),         reinterpret_cast<void*>(&create_instance),
          reinterpret_cast<void*>(&lock_server),
      };
      return entries;
    }
  };
};

// ---- Registration under ROOT\Software\Classes ---------------------------------------------

inline std::wstring guid_text(const GUID& guid) {
  wchar_t buffer[64] = {};
  ::StringFromGUID2(guid, buffer, 64);
  return buffer;
}

inline bool set_registry_value(HKEY root, const std::wstring& key, const wchar_t* name,
                               const std::wstring& value) {
  HKEY handle = nullptr;
  if (::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &handle, nullptr) !=
      ERROR_SUCCESS) {
    return false;
  }
  const LONG result =
      ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return result == ERROR_SUCCESS;
}

inline const std::wstring registry_classes = L"Software\\Classes\\";

// Registers the apartment-threaded class `clsid` of the module at `path` under `progid`;
// `title`, when not null, names both keys. False when a key could not be written.
inline bool register_class(HKEY root, const wchar_t* progid, const CLSID& clsid,
                           const wchar_t* path, const wchar_t* title) {
  const std::wstring id = guid_text(clsid);
  const std::wstring progid_key = registry_classes + progid;
  const std::wstring class_key = registry_classes + L"CLSID\\" + id;
  return (title == nullptr || set_registry_value(root, progid_key, nullptr, title)) &&
         set_registry_value(root, progid_key + L"\\CLSID", nullptr, id) &&
         (title == nullptr || set_registry_value(root, class_key, nullptr, title)) &&
         set_registry_value(root, class_key + L"\\ProgID", nullptr, progid) &&
         set_registry_value(root, class_key + L"\\InprocServer32", nullptr, path) &&
         set_registry_value(root, class_key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
}

// Removes exactly the keys register_class writes.
inline void unregister_class(HKEY root, const wchar_t* progid, const CLSID& clsid) {
  ::RegDeleteTreeW(root, (registry_classes + progid).c_str());
  ::RegDeleteTreeW(root, (registry_classes + L"CLSID\\" + guid_text(clsid)).c_str());
}

// The file of `module`, or "" when it does not fit MAX_PATH.
inline std::wstring module_path(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  const DWORD length = ::GetModuleFileNameW(module, path, MAX_PATH);
  return length == 0 || length >= MAX_PATH ? std::wstring() : std::wstring(path, length);
}

}  // namespace ombrix::com
