#include "server/socket_stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "tests/support/loopback_client.h"

namespace ombrix {
namespace {

using std::chrono::milliseconds;
constexpr auto eof = std::char_traits<char>::eof();
constexpr std::size_t block = socketbuf::buffer_size;

// Two connected local sockets, the stream's end first.
std::pair<test::client_socket, test::client_socket> socket_pair() {
  int ends[2] = {-1, -1};
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0) << errno;
  return {test::client_socket(ends[0]), test::client_socket(ends[1])};
}

// A send to a peer that has gone raises SIGPIPE unless the send suppresses it.
TEST(SocketStreamOutputTest, WriterRunsToItsEndWhenThePeerIsGone) {
  auto [mine, peer] = socket_pair();
  peer.reset();
  socketstream stream(mine.fd());
  for (int insertions = 0; insertions < 100; ++insertions) stream << std::string(1000, 'p');  // the first send fails, the rest is dropped
  EXPECT_TRUE(stream.bad());
}

// Socket calls on a script: sends are counted and succeed, receives answer scripted counts of
// 'x' bytes (0 once used up), time-outs are recorded and the clock is the test's. One script at a
// time, on the test's thread.
struct scripted_io {
  using clock = std::chrono::steady_clock;
  struct script {
    std::vector<std::ptrdiff_t> receive_results;
    std::size_t sends = 0, receives = 0;
    std::vector<int> timeouts;
    bool receive_failures_time_out = true;  // what a negative receive result stands for
    clock::time_point time{};
  };
  static inline script* current = nullptr;

  static std::ptrdiff_t send(socket_handle, const char*, std::size_t size) { return ++current->sends, static_cast<std::ptrdiff_t>(size); }
  static std::ptrdiff_t receive(socket_handle, char* buffer, std::size_t size) {
    const std::size_t call = current->receives++;
    if (call >= current->receive_results.size()) return 0;
    const std::ptrdiff_t result = current->receive_results[call];
    if (result > 0) std::memset(buffer, 'x', std::min(size, static_cast<std::size_t>(result)));
    return result;
  }
  static bool set_receive_timeout(socket_handle, int milliseconds) { return current->timeouts.push_back(milliseconds), true; }
  static bool last_receive_timed_out() { return current->receive_failures_time_out; }
  static clock::time_point now() { return current->time; }
};

using scripted_stream = basic_socketstream<char, std::char_traits<char>, scripted_io>;

class SocketStreamScriptedTest : public ::testing::Test {
 protected:
  SocketStreamScriptedTest() { scripted_io::current = &script_; }
  ~SocketStreamScriptedTest() override { scripted_io::current = nullptr; }
  scripted_io::script script_;
};

// Regression: a client sending a header byte every few seconds held its connection for ever,
// since each receive had its own time-out. A body that keeps the minimum rate is read to its end.
TEST_F(SocketStreamScriptedTest, InputEndsWhenTheRequestTimeIsUsedUp) {
  script_.receive_results = std::vector<std::ptrdiff_t>(100, 1);
  scripted_stream stream(7);
  EXPECT_EQ(stream.get(), 'x');  // the first byte starts the request's time
  script_.time += milliseconds(4000);
  EXPECT_EQ(stream.get(), 'x');  // 6 s left: the connection's own time-out still applies
  EXPECT_TRUE(script_.timeouts.empty());
  script_.time += milliseconds(4000);
  EXPECT_EQ(stream.get(), 'x');  // 2 s left: the receive may wait no longer than that
  script_.time += milliseconds(1500);
  EXPECT_EQ(stream.get(), 'x');
  EXPECT_EQ(script_.timeouts, (std::vector<int>{2000, 500}));
  script_.time += milliseconds(500);
  EXPECT_EQ(stream.get(), eof);
  EXPECT_EQ(stream.rdbuf()->end_of_input(), input_end::timed_out);
  EXPECT_EQ(script_.receives, 4u);  // no receive once the time is up
  script_ = {};
  script_.receive_results = std::vector<std::ptrdiff_t>(30, static_cast<std::ptrdiff_t>(minimum_transfer_rate));
  scripted_stream steady(7);
  std::string chunk(minimum_transfer_rate, '\0');
  for (int second = 0; second < 30; ++second, script_.time += milliseconds(1000)) {
    ASSERT_TRUE(steady.read(chunk.data(), static_cast<std::streamsize>(chunk.size()))) << second;
  }
}

// Regression: a client that read its response a byte now and then held its connection for as
// long as the response lasted. Regression: the 100 Continue sent before a slow body started the
// response's time, so the final response of a body that took longer than the grace was cut off.
TEST_F(SocketStreamScriptedTest, OutputEndsWhenTheResponseTimeIsUsedUp) {
  const std::string data(block, 'r');
  scripted_stream stream(7);
  stream << "HTTP/1.1 100 Continue\r\n\r\n" << std::flush;
  script_.time += transfer_grace * 3;
  stream.rdbuf()->restart_output_time();
  stream << "HTTP/1.1 200 OK\r\n" << std::flush;  // the first send after the restart starts the time
  script_.time += milliseconds(9000);
  stream << data;  // within the grace: sent
  EXPECT_TRUE(stream.good());
  EXPECT_EQ(script_.sends, 3u);
  script_.time += milliseconds(1500);  // 10.5 s: the block taken earned one more second
  stream << data;
  EXPECT_TRUE(stream.good());
  script_.time += milliseconds(2000);  // 12.5 s: two blocks taken, 12 s allowed
  stream << data;
  EXPECT_TRUE(stream.bad());
  EXPECT_EQ(script_.sends, 4u);
}

// The request reader answers a time-out (408) differently from a body the client ended (400).
// Regression: after a time-out the next read asked the socket again, so a line end that arrived
// after the time-out was read as part of the request; the end of input is final.
TEST_F(SocketStreamScriptedTest, TellsWhyTheInputEndedAndTheEndIsFinal) {
  const std::tuple<std::ptrdiff_t, bool, input_end> cases[] = {{0, true, input_end::closed}, {-1, true, input_end::timed_out}, {-1, false, input_end::failed}};
  for (const auto& [receive, failures_time_out, end] : cases) {
    SCOPED_TRACE(receive);
    script_ = {};
    script_.receive_results = {1, receive, 5, 5};
    script_.receive_failures_time_out = failures_time_out;
    scripted_stream stream(7);
    EXPECT_EQ(stream.get(), 'x');
    EXPECT_EQ(stream.rdbuf()->end_of_input(), input_end::open);
    EXPECT_EQ(stream.get(), eof);
    EXPECT_EQ(stream.rdbuf()->end_of_input(), end);
    stream.clear();
    EXPECT_EQ(stream.get(), eof);
    EXPECT_EQ(script_.receives, 2u);  // no receive after the end
  }
}

// What a client still sends after its refusal is read and dropped for the time allowed when it
// does not close (the connection's tests show the end at its close); the socket stays open.
TEST(SocketStreamInputTest, DiscardsInputUntilTheTimeIsUpAndNeverCloses) {
  const auto [mine, peer] = socket_pair();
  ASSERT_TRUE(test::send_all(peer.fd(), std::string(100'000, 'p')));
  socketstream(mine.fd()).rdbuf()->discard_input(milliseconds(300));
  char byte;
  EXPECT_LT(::recv(mine.fd(), &byte, 1, MSG_DONTWAIT), 0);  // nothing left unread
  EXPECT_EQ(::send(mine.fd(), "open", 4, MSG_NOSIGNAL), 4);
}

}  // namespace
}  // namespace ombrix
