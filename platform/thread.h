// Thread start and the per-thread component set-up, behind the platform layer. Thread-safe.
#pragma once

namespace ombrix::platform {

// Starts entry(argument) on a new detached thread that nobody joins. Returns 0, or the error
// number when no thread could be started; the caller then still owns `argument`.
int start_detached_thread(void (*entry)(void*), void* argument);

// Sets up, for the calling thread, what the host components need to be created and called on
// it, and undoes it on destruction. Lives on one thread; never moved to another.
class thread_component_scope {
 public:
  thread_component_scope();
  ~thread_component_scope();
  thread_component_scope(const thread_component_scope&) = delete;
  thread_component_scope& operator=(const thread_component_scope&) = delete;

  bool ok() const { return failure_ == 0; }
  long failure() const { return failure_; }  // the set-up's failure code, 0 when it worked

 private:
  long failure_ = 0;
};

}  // namespace ombrix::platform
