#include "server/socket_stream.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ombrix {
namespace {

// Two connected local sockets; SOCK_SEQPACKET keeps the boundary of every send, so the peer sees
// exactly the blocks the stream sent.
class socket_pair {
 public:
  explicit socket_pair(int type = SOCK_SEQPACKET) {
    int ends[2];
    if (::socketpair(AF_UNIX, type | SOCK_CLOEXEC, 0, ends) != 0) {
      ADD_FAILURE() << "socketpair failed: " << errno;
      return;
    }
    stream_end_ = ends[0];
    peer_ = ends[1];
  }
  ~socket_pair() {
    close_stream_end();
    close_peer();
  }
  socket_pair(const socket_pair&) = delete;
  socket_pair& operator=(const socket_pair&) = delete;

  int stream_end() const { return stream_end_; }
  int peer() const { return peer_; }
  void close_stream_end() { close_fd(stream_end_); }
  void close_peer() { close_fd(peer_); }

  // The messages waiting at the peer, without waiting for more.
  std::vector<std::string> drain_peer() const {
    std::vector<std::string> messages;
    char buffer[4096];
    for (;;) {
      const ssize_t got = ::recv(peer_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got < 0) break;
      messages.emplace_back(buffer, static_cast<std::size_t>(got));
      if (got == 0) break;  // the stream end has closed
    }
    return messages;
  }

  void send_from_peer(const std::string& bytes) const {
    ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
  }

 private:
  static void close_fd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  int stream_end_ = -1;
  int peer_ = -1;
};

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>('a' + i % 26);
  return bytes;
}

std::vector<std::size_t> sizes_of(const std::vector<std::string>& messages) {
  std::vector<std::size_t> sizes;
  for (const auto& message : messages) sizes.push_back(message.size());
  return sizes;
}

std::string joined(const std::vector<std::string>& messages) {
  std::string all;
  for (const auto& message : messages) all += message;
  return all;
}

// ---- output blocks --------------------------------------------------------------------------

struct block_case {
  std::size_t written;
  std::vector<std::size_t> before_destruction;  // sends while the stream lives
  std::vector<std::size_t> at_destruction;      // sends its destruction adds
};

class SocketStreamBlockTest : public ::testing::TestWithParam<block_case> {};

TEST_P(SocketStreamBlockTest, SendsFullBlocksOf128AndTheRestAtDestruction) {
  const block_case& test = GetParam();
  socket_pair pair;
  const std::string response = pattern(test.written);
  std::vector<std::string> sent;
  {
    socketstream stream(pair.stream_end());
    stream << response;
    EXPECT_TRUE(stream.good());
    sent = pair.drain_peer();
    EXPECT_EQ(sizes_of(sent), test.before_destruction);
  }
  const std::vector<std::string> last = pair.drain_peer();
  EXPECT_EQ(sizes_of(last), test.at_destruction);
  sent.insert(sent.end(), last.begin(), last.end());
  EXPECT_EQ(joined(sent), response);
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, SocketStreamBlockTest,
    ::testing::Values(block_case{0, {}, {}}, block_case{1, {}, {1}},
                      block_case{127, {}, {127}}, block_case{128, {128}, {}},
                      block_case{129, {128}, {1}}, block_case{255, {128}, {127}},
                      block_case{256, {128, 128}, {}},
                      block_case{300, {128, 128}, {44}}),
    [](const ::testing::TestParamInfo<block_case>& info) {
      return "written_" + std::to_string(info.param.written);
    });

TEST(SocketStreamOutputTest, SendsOnExplicitFlushButNotAtLineEnds) {
  socket_pair pair;
  {
    socketstream stream(pair.stream_end());
    stream << "HTTP/1.1 200 OK\r\n" << std::string(3, 'x') << '\n';
    EXPECT_TRUE(pair.drain_peer().empty());
    stream.flush();
    EXPECT_EQ(pair.drain_peer(), (std::vector<std::string>{"HTTP/1.1 200 OK\r\nxxx\n"}));
    stream << "tail";
  }
  EXPECT_EQ(pair.drain_peer(), (std::vector<std::string>{"tail"}));
}

// SOCK_STREAM is the case that raises SIGPIPE unless the send suppresses it.
class SocketStreamPeerGoneTest : public ::testing::TestWithParam<int> {};

TEST_P(SocketStreamPeerGoneTest, WriterRunsToItsEndWhenThePeerIsGone) {
  socket_pair pair(GetParam());
  pair.close_peer();
  int insertions = 0;
  {
    socketstream stream(pair.stream_end());
    // Far more than one block: the first send fails, the rest is dropped without a signal.
    for (; insertions < 100; ++insertions) stream << pattern(100);
    EXPECT_TRUE(stream.bad());
    stream.flush();
    EXPECT_TRUE(stream.bad());
  }
  EXPECT_EQ(insertions, 100);
}

INSTANTIATE_TEST_SUITE_P(SocketTypes, SocketStreamPeerGoneTest,
                         ::testing::Values(SOCK_STREAM, SOCK_SEQPACKET));

TEST(SocketStreamOutputTest, PeerLeavingMidResponseStopsTheWriterAfterTheFirstFailedSend) {
  socket_pair pair;
  socketstream stream(pair.stream_end());
  stream << pattern(128);
  ASSERT_EQ(sizes_of(pair.drain_peer()), std::vector<std::size_t>{128});
  pair.close_peer();
  stream << pattern(127);
  EXPECT_TRUE(stream.good());  // still inside the put area: nothing was sent
  stream << 'z';
  EXPECT_TRUE(stream.bad());
}

// A send that times out on a full socket leaves its whole block pending; the stream then drops
// every further insertion, and only the destructor sends that same block once more.
TEST(SocketStreamOutputTest, FailedSendKeepsTheBlockForTheDestructorsLastAttempt) {
  socket_pair pair;
  const timeval timeout{0, 100 * 1000};
  ASSERT_EQ(::setsockopt(pair.stream_end(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout),
            0);
  const int small = 4096;
  ASSERT_EQ(::setsockopt(pair.stream_end(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small), 0);

  const std::string bytes = pattern(1 << 20);
  std::size_t written = 0;
  auto stream = std::make_unique<socketstream>(pair.stream_end());
  // Bounded: the peer reads nothing, so its queue fills long before the end of `bytes`.
  while (written < bytes.size() && stream->good()) *stream << bytes[written++];
  ASSERT_TRUE(stream->bad()) << "the peer's queue never filled";
  ASSERT_EQ(written % 128, 0u) << "the failure comes with the character that fills a block";

  *stream << "dropped";
  stream->flush();
  const std::vector<std::string> delivered = pair.drain_peer();
  ASSERT_FALSE(delivered.empty());
  for (const auto& block : delivered) EXPECT_EQ(block.size(), 128u);
  EXPECT_EQ(delivered.size() + 1, written / 128) << "every block but the failed one left";

  stream.reset();  // the peer has room again: the last attempt sends the pending block
  const std::vector<std::string> last = pair.drain_peer();
  ASSERT_EQ(sizes_of(last), std::vector<std::size_t>{128});
  EXPECT_EQ(joined(delivered) + last.front(), bytes.substr(0, written));
}

TEST(SocketStreamOutputTest, HalfClosedPeerStillReceivesTheWholeResponse) {
  socket_pair pair(SOCK_STREAM);
  pair.send_from_peer("GET / HTTP/1.1\r\n\r\n");
  ASSERT_EQ(::shutdown(pair.peer(), SHUT_WR), 0);
  const std::string response = pattern(1000);
  {
    socketstream stream(pair.stream_end());
    const std::string request(std::istreambuf_iterator<char>(stream), {});
    EXPECT_EQ(request, "GET / HTTP/1.1\r\n\r\n");
    stream.clear();
    stream << response;
  }
  pair.close_stream_end();
  std::string received;
  char buffer[512];
  for (ssize_t got; (got = ::recv(pair.peer(), buffer, sizeof buffer, 0)) > 0;) {
    received.append(buffer, static_cast<std::size_t>(got));
  }
  EXPECT_EQ(received, response);
}

// ---- send failures, seen call by call --------------------------------------------------------

// Socket calls that record every send and answer with scripted counts (the full count once the
// script is used up). One script at a time, on the test's thread.
struct scripted_io {
  struct script {
    std::vector<std::ptrdiff_t> send_results;
    std::vector<std::string> sends;
  };
  static inline script* current = nullptr;

  static std::ptrdiff_t receive(socket_handle, char*, std::size_t) { return 0; }
  static std::ptrdiff_t send(socket_handle, const char* data, std::size_t size) {
    const std::size_t call = current->sends.size();
    current->sends.emplace_back(data, size);
    return call < current->send_results.size() ? current->send_results[call]
                                               : static_cast<std::ptrdiff_t>(size);
  }
};

using scripted_stream = basic_socketstream<char, std::char_traits<char>, scripted_io>;

class SocketStreamFailedSendTest : public ::testing::TestWithParam<std::ptrdiff_t> {
 protected:
  void SetUp() override { scripted_io::current = &script_; }
  void TearDown() override { scripted_io::current = nullptr; }
  scripted_io::script script_;
};

// Whether the first send fails outright or comes up short, the block stays whole, later output
// is dropped, and the destructor's last attempt sends that same block again.
TEST_P(SocketStreamFailedSendTest, OverflowFailureLeavesTheWholeBlockForTheDestructor) {
  script_.send_results = {GetParam()};
  const std::string response = pattern(300);
  {
    scripted_stream stream(7);
    stream << response;
    EXPECT_TRUE(stream.bad());
    stream << "more";
    stream.flush();
    EXPECT_EQ(script_.sends.size(), 1u);
  }
  ASSERT_EQ(script_.sends.size(), 2u);
  EXPECT_EQ(script_.sends[0], response.substr(0, 128));
  EXPECT_EQ(script_.sends[1], response.substr(0, 128));
}

TEST_P(SocketStreamFailedSendTest, SyncFailureLeavesTheBlockForTheDestructor) {
  script_.send_results = {GetParam() < 0 ? -1 : std::min<std::ptrdiff_t>(GetParam(), 9)};
  {
    scripted_stream stream(7);
    stream << "0123456789";
    stream.flush();
    EXPECT_TRUE(stream.bad());
    stream << "dropped";
  }
  EXPECT_EQ(script_.sends, (std::vector<std::string>{"0123456789", "0123456789"}));
}

INSTANTIATE_TEST_SUITE_P(Results, SocketStreamFailedSendTest,
                         ::testing::Values(-1, 0, 1, 100, 127));

TEST(SocketStreamScriptedTest, FullPutAreaLeftByAFailedSendTakesNoMoreCharacters) {
  scripted_io::script script;
  script.send_results = {-1, -1};
  scripted_io::current = &script;
  {
    scripted_stream stream(7);
    stream << pattern(128);
    ASSERT_EQ(script.sends.size(), 1u);
    // Past the stream's bad state, straight to the buffer: no room is left for another byte.
    EXPECT_EQ(stream.rdbuf()->sputc('!'), std::char_traits<char>::eof());
    EXPECT_EQ(script.sends.size(), 1u);
  }
  scripted_io::current = nullptr;
  ASSERT_EQ(script.sends.size(), 2u);
  EXPECT_EQ(script.sends[1], pattern(128));
}

TEST(SocketStreamScriptedTest, SuccessfulSendAfterAFailedSyncEmptiesThePutArea) {
  scripted_io::script script;
  script.send_results = {-1};
  scripted_io::current = &script;
  {
    scripted_stream stream(7);
    stream << "abc";
    EXPECT_EQ(stream.rdbuf()->pubsync(), -1);
    EXPECT_EQ(stream.rdbuf()->pubsync(), 0);  // the buffer itself may try again
    EXPECT_EQ(stream.rdbuf()->pubsync(), 0);  // nothing pending: no call at all
  }
  scripted_io::current = nullptr;
  EXPECT_EQ(script.sends, (std::vector<std::string>{"abc", "abc"}));
}

// ---- input ----------------------------------------------------------------------------------

class SocketStreamHighByteTest : public ::testing::TestWithParam<std::size_t> {};

TEST_P(SocketStreamHighByteTest, ByteFFIsDataNotEndOfInput) {
  socket_pair pair;
  std::string body = pattern(300);
  body[GetParam()] = '\xFF';
  // 128-byte messages: each receive of the stream takes exactly one block.
  for (std::size_t at = 0; at < body.size(); at += 128) pair.send_from_peer(body.substr(at, 128));
  pair.close_peer();

  socketstream stream(pair.stream_end());
  std::string read(body.size(), '\0');
  stream.read(read.data(), static_cast<std::streamsize>(read.size()));
  EXPECT_EQ(stream.gcount(), static_cast<std::streamsize>(body.size()));
  EXPECT_EQ(read, body);
  EXPECT_EQ(stream.get(), std::char_traits<char>::eof());  // only the real end ends the input
}

INSTANTIATE_TEST_SUITE_P(Positions, SocketStreamHighByteTest,
                         ::testing::Values(0u, 1u, 127u, 128u, 129u, 255u, 256u, 299u));

TEST(SocketStreamInputTest, PeekReturnsTheByteAsUnsignedValue) {
  socket_pair pair;
  pair.send_from_peer("\xFF\x80x");
  socketstream stream(pair.stream_end());
  EXPECT_EQ(stream.peek(), 0xFF);
  EXPECT_EQ(stream.get(), 0xFF);
  EXPECT_EQ(stream.get(), 0x80);
  EXPECT_EQ(stream.get(), 'x');
}

TEST(SocketStreamInputTest, ReceivesOneBlockAtATimeAsTheReaderAsks) {
  socket_pair pair;
  pair.send_from_peer("first line\r\n");
  pair.send_from_peer("second line\r\n");
  socketstream stream(pair.stream_end());
  std::string line;
  ASSERT_TRUE(std::getline(stream, line));
  EXPECT_EQ(line, "first line\r");
  // The second message is still at the socket: nothing was read ahead of the reader.
  char buffer[64];
  EXPECT_EQ(::recv(pair.stream_end(), buffer, sizeof buffer, MSG_PEEK | MSG_DONTWAIT), 13);
  ASSERT_TRUE(std::getline(stream, line));
  EXPECT_EQ(line, "second line\r");
}

TEST(SocketStreamInputTest, ShortBodyEndsAtThePeersClose) {
  socket_pair pair;
  pair.send_from_peer("0123456789");
  pair.close_peer();
  socketstream stream(pair.stream_end());
  std::string body(20, '\0');
  stream.read(body.data(), 20);
  EXPECT_EQ(stream.gcount(), 10);
  EXPECT_TRUE(stream.eof());
  EXPECT_EQ(body.substr(0, 10), "0123456789");
}

TEST(SocketStreamInputTest, LineReadReturnsWhatCameBeforeTheEnd) {
  socket_pair pair;
  pair.send_from_peer("GET / HTTP");
  pair.close_peer();
  socketstream stream(pair.stream_end());
  std::string line;
  EXPECT_TRUE(std::getline(stream, line));
  EXPECT_EQ(line, "GET / HTTP");
  EXPECT_TRUE(stream.eof());
  EXPECT_FALSE(std::getline(stream, line));
}

TEST(SocketStreamInputTest, ReceiveTimeOutIsEndOfInput) {
  socket_pair pair;
  const timeval timeout{0, 50 * 1000};
  ASSERT_EQ(::setsockopt(pair.stream_end(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout),
            0);
  socketstream stream(pair.stream_end());
  std::string line;
  EXPECT_FALSE(std::getline(stream, line));
  EXPECT_TRUE(stream.eof());
}

TEST(SocketStreamTest, NeverClosesTheSocket) {
  socket_pair pair;
  { socketstream stream(pair.stream_end()); }
  pair.send_from_peer("still open");
  char buffer[16];
  EXPECT_EQ(::recv(pair.stream_end(), buffer, sizeof buffer, 0), 10);
  EXPECT_EQ(socketstream(pair.stream_end()).rdbuf()->socket(), pair.stream_end());
}

}  // namespace
}  // namespace ombrix
