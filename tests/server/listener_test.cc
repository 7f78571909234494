#include "server/listener.h"

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <functional>
#include <future>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "base/settings.h"
#include "platform/seam.h"
#include "server/socket_stream.h"
#include "tests/support/loopback_client.h"

namespace ombrix {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;
using namespace test;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Everything the server sends on one connection up to its close.
std::string exchange(int port) { return http_exchange(port, "").bytes; }

connection_handler answering(std::string answer) {
  return [answer](const request_context& context) { socketstream(context.socket) << answer; };
}

// Connection threads started through counting_start; tests wait for them to end before they read
// their output or touch the settings the threads read.
std::atomic<int> live_connection_threads{0};
int counting_start(void (*entry)(void*), void* argument) {
  ++live_connection_threads;
  std::thread([entry, argument] { entry(argument), --live_connection_threads; }).detach();
  return 0;
}
bool connection_threads_ended() {
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (live_connection_threads > 0 && std::chrono::steady_clock::now() < deadline) std::this_thread::sleep_for(5ms);
  return live_connection_threads == 0;
}

class ListenerTest : public ::testing::Test {
 protected:
  ListenerTest() { calls_.start_thread = counting_start; }
  void TearDown() override { EXPECT_TRUE(connection_threads_ended()) << "connection threads did not end"; }
  listener_services services(peer_user_finder find_peer = nullptr) {
    return listener_services{config_, server_running_, counter_, calls_, find_peer};
  }
  // Runs run_server with `handler` on a thread of its own while `run` talks to it, then clears
  // server_running, which must end the loop within about a second (a generous bound still
  // catches a loop that never looks again) with exit code 0. Returns what it wrote to standard
  // error after its listening notice and, at a level other than 0, its debug notice.
  std::string serve(connection_handler handler, const std::function<void(int port)>& run, peer_user_finder find_peer = nullptr) {
    CaptureStderr();
    port_ = free_port();
    std::future<int> result = std::async(std::launch::async, [&] { return run_server(port_, handler, services(find_peer)); });
    for (int waits = 0; waits < 1000 && !server_running_ && result.wait_for(5ms) != std::future_status::ready; ++waits) {
    }
    EXPECT_TRUE(server_running_) << "the server did not start";
    if (server_running_) run(port_);
    server_running_ = false;
    EXPECT_EQ(result.wait_for(3s), std::future_status::ready) << "run_server did not end";  // else held until the runner's time-out
    EXPECT_EQ(result.get(), 0);
    EXPECT_TRUE(connection_threads_ended());
    const std::string written = GetCapturedStderr();
    const std::string head = listening_notice(port_) + (config_.debug_level != 0 ? "Debugging enabled\n" : "");
    EXPECT_EQ(written.substr(0, head.size()), head);
    return written.substr(std::min(head.size(), written.size()));
  }

  settings config_;
  std::atomic<bool> server_running_{false};
  connection_counter counter_;
  platform::seam calls_ = platform::real_seam();
  int port_ = 0;
};

// Serves on 127.0.0.1 only, writes its notices, and clearing server_running ends the loop and
// closes the socket. Numbers start from one and go on across runs of the same counter; the peer
// and port are passed.
TEST_F(ListenerTest, ListensOnLoopbackOnlyNumbersConnectionsAcrossRunsAndStops) {
  const connection_handler tell = [](const request_context& context) {
    socketstream(context.socket) << context.connection_number << ' ' << context.remote_host << ' ' << context.remote_address << ' ' << context.server_port;
  };
  for (const int level : {0, -1}) {
    config_.debug_level = level;
    EXPECT_EQ(serve(tell, [&](int port) {
      EXPECT_EQ(exchange(port), std::to_string(level == 0 ? 1 : 2) + " 127.0.0.1 127.0.0.1 " + std::to_string(port));
      EXPECT_FALSE(connect_loopback(port, "127.0.0.2").valid());
      EXPECT_EQ(errno, ECONNREFUSED);
    }), "") << level;
    EXPECT_FALSE(connect_loopback(port_).valid()) << "the listening socket is closed after the loop";
    EXPECT_EQ(errno, ECONNREFUSED);
  }
}

// Set on the listener where accepted sockets inherit them, else on each connection: either way
// they must arrive on the accepted socket.
TEST_F(ListenerTest, AcceptedSocketsCarryTheTimeOutsLingerAndGatheredOutput) {
  struct options {
    timeval receive{}, send{};
    linger lingering{};
    int cork = 0;
  };
  auto seen = std::make_shared<options>();
  serve([seen](const request_context& context) {
    const auto get = [&](int level, int name, auto& value) {
      socklen_t length = sizeof value;
      EXPECT_EQ(::getsockopt(context.socket, level, name, &value, &length), 0) << name;
    };
    get(SOL_SOCKET, SO_RCVTIMEO, seen->receive), get(SOL_SOCKET, SO_SNDTIMEO, seen->send), get(SOL_SOCKET, SO_LINGER, seen->lingering), get(IPPROTO_TCP, TCP_CORK, seen->cork);
    socketstream(context.socket) << "done";
  }, [](int port) { EXPECT_EQ(exchange(port), "done"); });
  EXPECT_EQ(std::vector<long>({seen->receive.tv_sec * 1000000 + seen->receive.tv_usec, seen->send.tv_sec * 1000000 + seen->send.tv_usec, seen->lingering.l_onoff, seen->lingering.l_linger, seen->cork}),
            std::vector<long>({5000000, 5000000, 1, 30, 1}));
}

TEST_F(ListenerTest, FailedThreadStartOrHandlerExceptionEndsOnlyItsConnection) {
  config_.debug_level = 1;
  auto starts = std::make_shared<std::atomic<int>>(0);
  calls_.start_thread = [starts](void (*entry)(void*), void* argument) { return starts->fetch_add(1) == 0 ? EAGAIN : counting_start(entry, argument); };
  EXPECT_EQ(serve([](const request_context& context) { socketstream(context.socket) << context.connection_number; }, [](int port) {
    EXPECT_EQ(exchange(port), "") << "closed without an answer, not left hanging";
    EXPECT_EQ(exchange(port), "2") << "the failed connection used number 1";
  }), "Failed to launch thread for connection: " + std::to_string(EAGAIN) + "\n");
  calls_.start_thread = counting_start;
  config_.debug_level = 2;
  auto count = std::make_shared<std::atomic<int>>(0);
  EXPECT_EQ(serve([count](const request_context& context) {
    if (count->fetch_add(1) == 0) throw std::runtime_error("handler failure");
    socketstream(context.socket) << "served";
  }, [](int port) { EXPECT_EQ(exchange(port) + exchange(port), "served"); }), "End of thread execution\nEnd of thread execution\n");
}

// What the fake owner look-up reports for the next connections.
std::atomic<platform::peer_standing> next_standing{platform::peer_standing::allowed};
std::atomic<long> next_user{-1};
platform::peer_user scripted_peer(socket_handle, const platform::peer_address&) { return {next_standing.load(), next_user.load()}; }

TEST_F(ListenerTest, ForeignOrUnknownUsersAreClosedUnreadWithTheirOwnLine) {
  const std::tuple<platform::peer_standing, long, std::string, std::string> cases[] = {
      {platform::peer_standing::allowed, 0, "served", ""}, {platform::peer_standing::foreign, 1001, "", "Refused connection from user 1001\n"},
      {platform::peer_standing::unknown, -1, "", "Refused connection: the user of its client socket cannot be determined\n"}};
  config_.debug_level = 1;
  for (const auto& [standing, user, answer, line] : cases) {
    next_standing = standing, next_user = user;
    EXPECT_EQ(serve(answering("served"), [&](int port) { EXPECT_EQ(exchange(port), answer) << user; }, scripted_peer), line);
  }
}

// Connection threads that have served theirs take the next connections themselves: a thread
// serves several in turn, each with its own number, and the stop ends their wait in accept at
// once (serve allows the stop 3 s, the accept's time-out is 5 s).
TEST_F(ListenerTest, ConnectionThreadsTakeTheNextConnectionsThemselves) {
  auto starts = std::make_shared<std::atomic<int>>(0);
  calls_.start_thread = [starts](void (*entry)(void*), void* argument) { return ++*starts, counting_start(entry, argument); };
  serve([](const request_context& context) { socketstream(context.socket) << context.connection_number; }, [](int port) {
    for (int number = 1; number <= 6; ++number) EXPECT_EQ(exchange(port), std::to_string(number));
  });
  EXPECT_LT(*starts, 6) << "every connection had a new thread";
}

// The loop used to retry a failing accept at once, spinning a core while nobody was served.
// The loop's accepts fail with EMFILE while `failures_left` is above zero; the pending
// connection keeps the listening socket readable meanwhile. Connection threads find nothing
// (their accept times out at once), so that every connection is the loop's.
TEST_F(ListenerTest, DescriptorExhaustionPausesInsteadOfSpinningAndServesAgain) {
  struct shared {
    std::atomic<int> failures_left{8};
    std::vector<long> pauses;  // the accept loop's thread alone sleeps
    std::thread::id loop;      // the thread of the first accept
  };
  auto state = std::make_shared<shared>();
  calls_.accept = [state](socket_handle listener, platform::peer_address& peer) {
    if (state->loop == std::thread::id()) state->loop = std::this_thread::get_id();
    if (std::this_thread::get_id() != state->loop) return errno = EAGAIN, invalid_socket;
    if (state->failures_left.fetch_sub(1) > 0) return errno = EMFILE, invalid_socket;
    return platform::accept_connection(listener, peer);
  };
  calls_.sleep = [state](std::chrono::milliseconds pause) { state->pauses.push_back(pause.count()); };
  serve(answering("served"), [&](int port) {
    EXPECT_EQ(exchange(port), "served") << "served once descriptors are back";
    state->failures_left = 2;
    EXPECT_EQ(exchange(port), "served");
  });
  EXPECT_EQ(state->pauses, (std::vector<long>{10, 20, 40, 80, 160, 320, 500, 500, 10, 20}));  // the second run starts over
}

}  // namespace
}  // namespace ombrix
