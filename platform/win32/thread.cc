// Threads started through the C runtime, and the per-thread COM apartment, for the platform layer.
#include "platform/thread.h"

#include <objbase.h>
#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstdint>
#include <new>

namespace ombrix::platform {

namespace {

struct thread_start {
  void (*entry)(void*);
  void* argument;
};

unsigned __stdcall run_thread(void* start_argument) {
  const thread_start start = *static_cast<thread_start*>(start_argument);
  delete static_cast<thread_start*>(start_argument);
  start.entry(start.argument);
  return 0;
}

}  // namespace

int start_detached_thread(void (*entry)(void*), void* argument) {
  auto* start = new (std::nothrow) thread_start{entry, argument};
  if (start == nullptr) return ENOMEM;
  // _beginthreadex rather than CreateThread so that the C runtime sets itself up for the thread.
  const std::uintptr_t handle = ::_beginthreadex(nullptr, 0, run_thread, start, 0, nullptr);
  if (handle == 0) {
    const int error = errno;
    delete start;
    return error != 0 ? error : EAGAIN;
  }
  // Closing the handle detaches the thread: it runs on and its resources go when it ends.
  ::CloseHandle(reinterpret_cast<HANDLE>(handle));
  return 0;
}

// The host components are apartment-threaded objects: each connection thread is its own
// single-threaded apartment.
thread_component_scope::thread_component_scope() {
  const HRESULT result = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(result)) failure_ = result;
}

thread_component_scope::~thread_component_scope() {
  if (failure_ == 0) ::CoUninitialize();
}

}  // namespace ombrix::platform
