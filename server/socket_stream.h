// A character stream over a connected socket with one fixed receive buffer and one fixed send
// buffer of 16 KiB each. Not thread-safe: a stream belongs to one connection thread.
//
//   socketstream stream(context.socket);
//   std::getline(stream, line);
//   stream << "HTTP/1.1 200 OK\r\n";   // leaves in blocks, on flush and at destruction
#pragma once

#include <chrono>
#include <cstddef>
#include <cstring>
#include <istream>
#include <streambuf>
#include <string>

#include "platform/socket.h"

namespace ombrix {

// A silent or stalled client holds its connection for at most this long per receive or send.
inline constexpr int socket_timeout_milliseconds = 5000;

// The whole request must arrive within this long of its first byte, plus one second for every
// `minimum_transfer_rate` bytes received: a client that sends a header byte every few seconds is
// cut off after the grace, a body keeps the minimum rate, and every other client is unaffected.
// The response is bounded the same way from its first send.
inline constexpr std::chrono::milliseconds transfer_grace{10000};
inline constexpr std::size_t minimum_transfer_rate = 16 * 1024;  // bytes per second

// The socket calls of the stream, through the platform layer, and its clock. Tests substitute
// scripted ones to see every call, to make sends fail or come up short, and to move time.
struct platform_socket_io {
  using clock = std::chrono::steady_clock;
  static std::ptrdiff_t receive(socket_handle socket, char* buffer, std::size_t size) {
    return platform::receive_bytes(socket, buffer, size);
  }
  static std::ptrdiff_t send(socket_handle socket, const char* data, std::size_t size) {
    return platform::send_bytes(socket, data, size);
  }
  static bool set_receive_timeout(socket_handle socket, int milliseconds) {
    return platform::set_receive_timeout(socket, milliseconds);
  }
  // Whether the last failed receive ran out of its time-out.
  static bool last_receive_timed_out() {
    return platform::is_timeout_error(platform::last_socket_error());
  }
  static clock::time_point now() { return clock::now(); }
};

// Why the input of a socket stream ended.
enum class input_end {
  open,       // it has not ended
  closed,     // the peer closed its side
  failed,     // a receive failed
  timed_out,  // a receive waited out its time-out, or the request's time was used up
};

// A stream buffer over a socket it does not own (it never shuts the socket down or closes it).
// Output: the put area is the send buffer less one byte, so the character handed to overflow
// always fits; a block is sent with one send call, and a short or failed send leaves the whole
// block in place. A write of a whole block or more goes straight to the socket after the
// pending block, continuing after short sends while the socket takes bytes.
// A response that the client reads slower than the minimum rate is cut off (see
// within_output_time); each send still waits at most the socket's send time-out.
// Input: one receive of up to a buffer whenever the get area is empty. The end of input is
// final: after the peer's close, a failed or timed-out receive, or the end of the input time
// (see transfer_grace), every further read returns end-of-file without touching the socket;
// end_of_input tells which of these ended it.
template <class CharT, class Traits = std::char_traits<CharT>, class SocketIo = platform_socket_io>
class basic_socketbuf : public std::basic_streambuf<CharT, Traits> {
  static_assert(sizeof(CharT) == 1, "the socket carries bytes");

 public:
  using int_type = typename Traits::int_type;
  static constexpr std::size_t buffer_size = 16 * 1024;

  explicit basic_socketbuf(socket_handle socket = 0) : socket_(socket) {
    this->setp(send_, send_ + buffer_size - 1);
    this->setg(receive_, receive_, receive_);
  }

  // One last attempt to send what is still in the put area; its outcome is not reported.
  ~basic_socketbuf() override { (void)send_pending(); }

  basic_socketbuf(const basic_socketbuf&) = delete;
  basic_socketbuf& operator=(const basic_socketbuf&) = delete;

  socket_handle socket() const { return socket_; }

  // Why reads now return end-of-file; input_end::open while they do not.
  input_end end_of_input() const { return end_; }

  // Lets the next send start the response's time afresh: an interim response (100 Continue)
  // sent before a body that takes long to arrive must not use up the final response's time.
  void restart_output_time() {
    sending_ = false;
    sent_ = 0;
  }

  // Receives and drops whatever still arrives, bypassing the input's end and time, until the
  // peer closes, a receive fails or `limit` has passed. For a connection whose request was not
  // read to its end: closing it with bytes unread would reset it under the client.
  void discard_input(std::chrono::milliseconds limit) {
    if (end_ == input_end::closed) return;
    const auto until = SocketIo::now() + limit;
    for (;;) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(until - SocketIo::now());
      if (left.count() <= 0 || !SocketIo::set_receive_timeout(socket_, static_cast<int>(left.count()))) {
        return;
      }
      receive_timeout_ = static_cast<int>(left.count());
      if (SocketIo::receive(socket_, reinterpret_cast<char*>(receive_), buffer_size) <= 0) return;
    }
  }

 protected:
  // Returns the next byte (0 to 255) without consuming it, or end-of-file when the input ended.
  int_type underflow() override {
    if (this->gptr() < this->egptr()) return Traits::to_int_type(*this->gptr());
    if (end_ != input_end::open) return Traits::eof();
    if (!bound_receive_time()) {
      end_ = input_end::timed_out;
      return Traits::eof();
    }
    const std::ptrdiff_t received =
        SocketIo::receive(socket_, reinterpret_cast<char*>(receive_), buffer_size);
    if (received <= 0) {
      end_ = received == 0                          ? input_end::closed
             : SocketIo::last_receive_timed_out() ? input_end::timed_out
                                                  : input_end::failed;
      return Traits::eof();
    }
    if (received_ == 0) first_byte_ = SocketIo::now();
    received_ += static_cast<std::size_t>(received);
    this->setg(receive_, receive_, receive_ + received);
    return Traits::to_int_type(*this->gptr());
  }

  // Takes `c` (unless it is end-of-file) into the held-back byte and sends the block. Returns
  // end-of-file when the send fails or is short.
  int_type overflow(int_type c) override {
    if (!Traits::eq_int_type(c, Traits::eof())) {
      // A block left by a failed send already holds the held-back byte: take nothing more.
      if (this->pptr() == send_ + buffer_size) return Traits::eof();
      *this->pptr() = Traits::to_char_type(c);
      this->pbump(1);
    }
    return send_pending() ? Traits::not_eof(c) : Traits::eof();
  }

  // Small writes fill the put area; a write of a block or more is not copied at all.
  std::streamsize xsputn(const CharT* data, std::streamsize count) override {
    if (count < static_cast<std::streamsize>(buffer_size)) {
      return std::basic_streambuf<CharT, Traits>::xsputn(data, count);
    }
    if (!send_pending()) return 0;
    std::streamsize done = 0;
    while (done < count && within_output_time()) {
      const std::ptrdiff_t sent =
          SocketIo::send(socket_, reinterpret_cast<const char*>(data + done),
                         static_cast<std::size_t>(count - done));
      if (sent <= 0) break;
      done += sent;
      sent_ += static_cast<std::size_t>(sent);
    }
    return done;
  }

  // Sends the put area; 0 when all of it left, -1 otherwise.
  int sync() override { return send_pending() ? 0 : -1; }

 private:
  // How long a transfer that has moved `bytes` so far may take in all.
  static std::chrono::milliseconds transfer_time_for(std::size_t bytes) {
    return transfer_grace + std::chrono::seconds(bytes / minimum_transfer_rate);
  }

  // Lowers the socket's receive time-out to what is left of the input time, once the first
  // byte has started it. Returns false when no time is left.
  bool bound_receive_time() {
    if (received_ == 0) return true;
    const auto allowed = transfer_time_for(received_);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        first_byte_ + allowed - SocketIo::now());
    if (left.count() <= 0) return false;
    if (left.count() < receive_timeout_) {
      receive_timeout_ = static_cast<int>(left.count());
      (void)SocketIo::set_receive_timeout(socket_, receive_timeout_);
    }
    return true;
  }

  // Sends the pending block with one call and empties the put area when all of it left. Nothing
  // pending is success without a call: an empty send would still be a message on a socket that
  // keeps message boundaries.
  bool send_pending() {
    const std::ptrdiff_t pending = this->pptr() - this->pbase();
    if (pending == 0) return true;
    if (!within_output_time()) return false;
    const std::ptrdiff_t sent = SocketIo::send(
        socket_, reinterpret_cast<const char*>(this->pbase()), static_cast<std::size_t>(pending));
    if (sent != pending) return false;
    sent_ += static_cast<std::size_t>(sent);
    this->setp(send_, send_ + buffer_size - 1);
    return true;
  }

  // The response has the same bound as the request: the grace from its first send plus a
  // second per `minimum_transfer_rate` bytes the client took. A client that reads a byte now and
  // then would otherwise hold the connection for as long as the response lasts.
  bool within_output_time() {
    const auto now = SocketIo::now();
    if (!sending_) {
      sending_ = true;
      first_send_ = now;
      return true;
    }
    return now - first_send_ < transfer_time_for(sent_);
  }

  CharT send_[buffer_size];
  CharT receive_[buffer_size];
  socket_handle socket_;
  input_end end_ = input_end::open;
  std::size_t received_ = 0;                  // bytes received so far
  typename SocketIo::clock::time_point first_byte_{};
  bool sending_ = false;
  std::size_t sent_ = 0;  // bytes sent so far
  typename SocketIo::clock::time_point first_send_{};
  int receive_timeout_ = socket_timeout_milliseconds;  // as the connection was set up
};

// A bidirectional stream that owns one basic_socketbuf over `socket`. A failed send puts the
// stream in its bad state, after which insertions do nothing; destruction makes the buffer's
// one last send attempt.
template <class CharT, class Traits = std::char_traits<CharT>, class SocketIo = platform_socket_io>
class basic_socketstream : public std::basic_iostream<CharT, Traits> {
 public:
  // The base only records the buffer's address; the buffer is built right after it.
  explicit basic_socketstream(socket_handle socket)
      : std::basic_iostream<CharT, Traits>(&buffer_), buffer_(socket) {}

  basic_socketstream(const basic_socketstream&) = delete;
  basic_socketstream& operator=(const basic_socketstream&) = delete;

  basic_socketbuf<CharT, Traits, SocketIo>* rdbuf() const {
    return const_cast<basic_socketbuf<CharT, Traits, SocketIo>*>(&buffer_);
  }

 private:
  basic_socketbuf<CharT, Traits, SocketIo> buffer_;
};

using socketbuf = basic_socketbuf<char>;
using socketstream = basic_socketstream<char>;

}  // namespace ombrix
