// A character stream over a connected socket with one fixed 128-byte receive buffer and one
// fixed 128-byte send buffer. Not thread-safe: a stream belongs to one connection thread.
//
//   socketstream stream(context.socket);
//   std::getline(stream, line);
//   stream << "HTTP/1.1 200 OK\r\n";   // leaves in blocks of 128, on flush and at destruction
#pragma once

#include <cstddef>
#include <istream>
#include <streambuf>
#include <string>

#include "platform/socket.h"

namespace ombrix {

// The two socket calls of the stream, through the platform layer. Tests substitute a scripted
// one to see every call and to make sends fail or come up short.
struct platform_socket_io {
  static std::ptrdiff_t receive(socket_handle socket, char* buffer, std::size_t size) {
    return platform::receive_bytes(socket, buffer, size);
  }
  static std::ptrdiff_t send(socket_handle socket, const char* data, std::size_t size) {
    return platform::send_bytes(socket, data, size);
  }
};

// A stream buffer over a socket it does not own (it never shuts the socket down or closes it).
// Output: the put area is the first 127 bytes of the send buffer, so the character handed to
// overflow always fits; a block is sent with one send call, and a short or failed send leaves the
// whole block in place. Input: one receive of up to 128 bytes whenever the get area is empty.
template <class CharT, class Traits = std::char_traits<CharT>, class SocketIo = platform_socket_io>
class basic_socketbuf : public std::basic_streambuf<CharT, Traits> {
  static_assert(sizeof(CharT) == 1, "the socket carries bytes");

 public:
  using int_type = typename Traits::int_type;
  static constexpr std::size_t buffer_size = 128;

  explicit basic_socketbuf(socket_handle socket = 0) : socket_(socket) {
    this->setp(send_, send_ + buffer_size - 1);
    this->setg(receive_, receive_, receive_);
  }

  // One last attempt to send what is still in the put area; its outcome is not reported.
  ~basic_socketbuf() override { (void)send_pending(); }

  basic_socketbuf(const basic_socketbuf&) = delete;
  basic_socketbuf& operator=(const basic_socketbuf&) = delete;

  socket_handle socket() const { return socket_; }

 protected:
  // Returns the next byte (0 to 255) without consuming it, or end-of-file when the peer has
  // closed or the receive failed or timed out.
  int_type underflow() override {
    if (this->gptr() < this->egptr()) return Traits::to_int_type(*this->gptr());
    const std::ptrdiff_t received =
        SocketIo::receive(socket_, reinterpret_cast<char*>(receive_), buffer_size);
    if (received <= 0) return Traits::eof();
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

  // Sends the put area; 0 when all of it left, -1 otherwise.
  int sync() override { return send_pending() ? 0 : -1; }

 private:
  // Sends the pending block with one call and empties the put area when all of it left. Nothing
  // pending is success without a call: an empty send would still be a message on a socket that
  // keeps message boundaries.
  bool send_pending() {
    const std::ptrdiff_t pending = this->pptr() - this->pbase();
    if (pending == 0) return true;
    const std::ptrdiff_t sent = SocketIo::send(
        socket_, reinterpret_cast<const char*>(this->pbase()), static_cast<std::size_t>(pending));
    if (sent != pending) return false;
    this->setp(send_, send_ + buffer_size - 1);
    return true;
  }

  CharT send_[buffer_size];
  CharT receive_[buffer_size];
  socket_handle socket_;
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
