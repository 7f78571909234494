// The accept loop's guards: refusing clients of other users, and pausing after failed accepts.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <future>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "base/settings.h"
#include "server/listener.h"
#include "server/socket_stream.h"
#include "server/thread_cache.h"
#include "platform/seam.h"
#include "tests/expected_bytes.h"
#include "tests/server/loopback_client.h"

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using namespace test;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// run_server on a thread of its own with `config`, the seam `calls` (whose threads come from a
// cache of the server's own) and `find_peer`; stopped, and its threads joined, on destruction.
// The handler answers "served".
class guarded_server {
 public:
  guarded_server(const settings& config, platform::seam calls,
                 peer_user_finder find_peer = nullptr)
      : config_(config),
        threads_(calls.start_thread, 4, 10s),
        calls_(std::move(calls)),
        port_(free_port()) {
    calls_.start_thread = [this](void (*entry)(void*), void* argument) {
      return threads_.start(entry, argument);
    };
    listener_services services{config_, server_running_, counter_, calls_, find_peer};
    result_ = std::async(std::launch::async, [this, services] {
      return run_server(port_, [](const request_context& context) {
        socketstream(context.socket) << "served";
      }, services);
    });
    for (int waits = 0; waits < 1000 && !server_running_; ++waits) {
      std::this_thread::sleep_for(5ms);
    }
  }
  ~guarded_server() {
    server_running_ = false;
    if (result_.wait_for(5s) != std::future_status::ready) ADD_FAILURE() << "run_server hangs";
    // Connection threads outlive run_server; the cache may be destroyed (joining its idle
    // threads) once none of them still runs a task.
    for (int waits = 0; waits < 1000 && threads_.thread_count() != threads_.idle_count();
         ++waits) {
      std::this_thread::sleep_for(5ms);
    }
  }
  int port() const { return port_; }

 private:
  const settings config_;
  std::atomic<bool> server_running_{false};
  connection_counter counter_;
  thread_cache threads_;
  platform::seam calls_;
  int port_;
  std::future<int> result_;
};

// ---- Refusing other users' clients ----------------------------------------------------------

// What the fake owner look-up reports for the next connections.
std::atomic<platform::peer_standing> next_standing{platform::peer_standing::allowed};
std::atomic<long> next_user{-1};
platform::peer_user scripted_peer(socket_handle, const platform::peer_address&) {
  return {next_standing.load(), next_user.load()};
}

struct refusal_case {
  const char* name;
  platform::peer_standing standing;
  long user;
  std::string answer;
  std::string line;  // the debug line after "Debugging enabled", empty for none
};

// Failures name the case, not the bytes of the structure.
void PrintTo(const refusal_case& c, std::ostream* out) { *out << c.name; }

class ForeignUserRefusedTest : public ::testing::TestWithParam<refusal_case> {};

TEST_P(ForeignUserRefusedTest, ConnectionIsClosedUnreadWithItsOwnLine) {
  const refusal_case& c = GetParam();
  next_standing = c.standing;
  next_user = c.user;
  CaptureStderr();
  std::string answer;
  int port = 0;
  {
    guarded_server server(settings{.debug_level = 1}, platform::real_seam(), scripted_peer);
    port = server.port();
    answer = exchange(port);
  }
  // The handler's thread may still be ending; its stream has been destroyed by then.
  std::this_thread::sleep_for(50ms);
  const std::string text = GetCapturedStderr();
  EXPECT_EQ(answer, c.answer);
  EXPECT_EQ(text, listening_notice(port) + "Debugging enabled\n" + c.line);
}

INSTANTIATE_TEST_SUITE_P(
    Owners, ForeignUserRefusedTest,
    ::testing::Values(
        refusal_case{"OwnUserIsServed", platform::peer_standing::allowed, 0, "served", ""},
        refusal_case{"OtherUserIsRefused", platform::peer_standing::foreign, 1001, "",
                     "Refused connection from user 1001\n"},
        refusal_case{"UnknownOwnerIsRefused", platform::peer_standing::unknown, -1, "",
                     "Refused connection: the user of its client socket cannot be "
                     "determined\n"}),
    [](const ::testing::TestParamInfo<refusal_case>& info) { return std::string(info.param.name); });

// ---- Pausing after failed accepts ------------------------------------------------------------

TEST(AcceptBackoffTest, DoublesFromTenMillisecondsToHalfASecondAndStartsOverAfterSuccess) {
  accept_backoff backoff;
  std::vector<long> pauses;
  for (int i = 0; i < 8; ++i) pauses.push_back(backoff.after_failure().count());
  EXPECT_EQ(pauses, (std::vector<long>{10, 20, 40, 80, 160, 320, 500, 500}));
  backoff.reset();
  EXPECT_EQ(backoff.after_failure().count(), 10);
  EXPECT_EQ(backoff.after_failure().count(), 20);
}

// Accepts fail with EMFILE while `failures_left` is above zero, as in a process without free
// descriptors; the pending connection keeps the listening socket readable meanwhile.
std::atomic<int> failures_left{0};
socket_handle exhausted_accept(socket_handle listener, platform::peer_address& peer) {
  if (failures_left.fetch_sub(1) > 0) {
    errno = EMFILE;
    return invalid_socket;
  }
  return platform::accept_connection(listener, peer);
}

std::mutex pauses_mutex;
std::vector<long> pauses_taken;
void record_pause(std::chrono::milliseconds pause) {
  {
    const std::lock_guard<std::mutex> lock(pauses_mutex);
    pauses_taken.push_back(pause.count());
  }
  std::this_thread::sleep_for(1ms);
}

// The loop used to retry a failing accept at once, spinning a core while nobody was served.
TEST(AcceptLoopTest, DescriptorExhaustionPausesInsteadOfSpinningAndServesAgain) {
  pauses_taken.clear();
  failures_left = 4;
  platform::seam calls = platform::real_seam();
  calls.accept = exhausted_accept;
  calls.sleep = record_pause;
  guarded_server server(settings{}, calls);
  EXPECT_EQ(exchange(server.port()), "served") << "served once descriptors are back";
  failures_left = 2;
  EXPECT_EQ(exchange(server.port()), "served");
  const std::lock_guard<std::mutex> lock(pauses_mutex);
  // The second run of failures starts from the first pause again.
  EXPECT_EQ(pauses_taken, (std::vector<long>{10, 20, 40, 80, 10, 20}));
}

}  // namespace
}  // namespace ombrix
