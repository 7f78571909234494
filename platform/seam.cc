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

seam::clock::time_point now_of(const seam& calls) {
  return calls.now ? calls.now() : seam::clock::now();
}

void sleep_of(const seam& calls, std::chrono::milliseconds pause) {
  if (calls.sleep) {
    calls.sleep(pause);
  } else {
    std::this_thread::sleep_for(pause);
  }
}

}  // namespace ombrix::platform
