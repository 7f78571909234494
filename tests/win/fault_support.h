// Test helpers around ombrix-fault-host.dll: a binding of the shared COM code to one of its
// classes, its journal and live-object count, and one REST request served with a fault class
// behind it. Single-threaded, like the tests.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>

#include "base/settings.h"
#include "host/com/velquor_com.h"
#include "host/com/velquor_interface.h"
#include "host/factory/connected_host.h"
#include "rest/access_token.h"
#include "rest/dispatcher.h"
#include "rest/item_locks.h"
#include "rest/kelm_info.h"
#include "rest/session_table.h"
#include "tests/win/fault_modes.h"

namespace ombrix::fault {

// The COM binding reaching the fault class registered under `progid` through the 7.1 or 8.0
// interface identifier; built exactly like velquor71 and velquor80.
class fault_binding final : public velquor_com {
 public:
  fault_binding(const wchar_t* progid, int generation)
      : velquor_com({progid, &iid(generation)}), generation_(generation) {}

 private:
  static const IID& iid(int generation) { return generation == 71 ? com::iid_velquor71 : com::iid_velquor80; }
  const IID& generation_iid() const override { return iid(generation_); }
  int generation_;
};

// The DLL's exports (the module COM loads too): the calls since the last reset, one line each;
// the live objects.
template <class Function>
Function fault_export(const char* name) {
  static const HMODULE module = ::LoadLibraryW(dll_name);
  return reinterpret_cast<Function>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}
inline std::wstring journal() { return fault_export<const wchar_t* (*)()>("fault_journal")(); }
inline void reset_journal() { fault_export<void (*)()>("fault_reset")(); }
inline long live_objects() { return fault_export<long (*)()>("fault_live_objects")(); }

// `method` `path` (after /quelm/restfs/) through the REST service for a session on SRV**
// account SALES, the host the class of `which`; the journal is reset first. The HTTP status.
inline int serve(mode which, int generation, const std::string& method, const std::string& path, std::string& reply) {
  session_table sessions;
  sessions.add_session("1a", std::make_shared<const kelm_info>(kelm_info{"SRV**", "SALES", "MD"}));
  const host_factory make_host = [&](const std::string& server) {
    return connected_host([&] { return std::make_shared<fault_binding>(progid_of(which), generation); }, server,
                          default_settings);
  };
  std::atomic<bool> server_running{true};
  item_lock_table locks;
  const rest_context context{default_settings, sessions, locks, make_host, server_running};
  const std::string environment = "REMOTE_ADDR=127.0.0.1\r\nREMOTE_HOST=127.0.0.1\r\nREQUEST_METHOD=" + method +
                                  "\r\nPATH_INFO=/quelm/restfs/" + path + "\r\nSERVER_PORT=3181\r\n" +
                                  "HTTP_AUTHORIZATION=Bearer " + make_access_token("1a") + "\r\n";
  reset_journal();
  return dispatch_rest_request(7, environment, "", reply, context);
}
inline std::string error_reply(int status, const std::string& message, const std::string& code) {
  return "Content-Type:application/json\r\n\r\n{\"status\":" + std::to_string(status) + ",\"message\":\"" + message +
         "\",\"code\":\"" + code + "\"}";
}

}  // namespace ombrix::fault
