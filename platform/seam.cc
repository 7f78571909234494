#include "platform/seam.h"

#include <thread>

#include "platform/thread.h"

namespace ombrix::platform {

seam real_seam() {
  seam calls;
  calls.now = [] { return seam::clock::now(); };
  calls.sleep = [](std::chrono::milliseconds pause) { std::this_thread::sleep_for(pause); };
  calls.accept = accept_connection;
  calls.start_thread = start_detached_thread;
  return calls;
}

}  // namespace ombrix::platform
