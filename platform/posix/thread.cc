// POSIX threads and the (empty) per-thread component set-up for the platform layer.
#include "platform/thread.h"

#include <pthread.h>

#include <cerrno>
#include <new>

namespace ombrix::platform {

namespace {

struct thread_start {
  void (*entry)(void*);
  void* argument;
};

void* run_thread(void* start_argument) {
  const thread_start start = *static_cast<thread_start*>(start_argument);
  delete static_cast<thread_start*>(start_argument);
  start.entry(start.argument);
  return nullptr;
}

}  // namespace

int start_detached_thread(void (*entry)(void*), void* argument) {
  auto* start = new (std::nothrow) thread_start{entry, argument};
  if (start == nullptr) return ENOMEM;

  pthread_attr_t attributes;
  int error = pthread_attr_init(&attributes);
  if (error == 0) {
    error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (error == 0) {
      pthread_t thread;
      error = pthread_create(&thread, &attributes, run_thread, start);
    }
    pthread_attr_destroy(&attributes);
  }
  if (error != 0) delete start;
  return error;
}

// The host components of this platform need no per-thread set-up.
thread_component_scope::thread_component_scope() = default;
thread_component_scope::~thread_component_scope() = default;

}  // namespace ombrix::platform
