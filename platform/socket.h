// The socket calls of the server, behind one small layer so that the rest of the system never
// touches the operating system's socket interface. Thread-safe as the system calls they wrap.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ombrix {

#if defined(_WIN32)
using socket_handle = std::uintptr_t;
#else
using socket_handle = int;
#endif

inline constexpr socket_handle invalid_socket = static_cast<socket_handle>(-1);

namespace platform {

// A peer's socket address exactly as accept returned it (a generic 128-byte address storage).
struct peer_address {
  alignas(std::max_align_t) unsigned char storage[128] = {};
  int length = 0;
};

// Start-up and clean-up of the socket library for the life of the object. On platforms without
// such a step it always succeeds.
class socket_library {
 public:
  socket_library();
  ~socket_library();
  socket_library(const socket_library&) = delete;
  socket_library& operator=(const socket_library&) = delete;

  bool ok() const { return error_ == 0; }
  int error() const { return error_; }  // the start-up failure number, 0 when it worked

 private:
  int error_ = 0;
};

// Owns one socket and closes it (without shutting it down) on destruction.
class unique_socket {
 public:
  unique_socket() = default;
  explicit unique_socket(socket_handle socket) : socket_(socket) {}
  ~unique_socket();
  unique_socket(unique_socket&& other) noexcept : socket_(other.release()) {}
  unique_socket& operator=(unique_socket&& other) noexcept;
  unique_socket(const unique_socket&) = delete;
  unique_socket& operator=(const unique_socket&) = delete;

  explicit operator bool() const { return socket_ != invalid_socket; }
  socket_handle get() const { return socket_; }
  // Gives up ownership; the caller closes the returned socket.
  socket_handle release() {
    const socket_handle socket = socket_;
    socket_ = invalid_socket;
    return socket;
  }

 private:
  socket_handle socket_ = invalid_socket;
};

// The last failure number of a socket call on this thread.
int last_socket_error();

// A blocking IPv4 stream (TCP) socket, or invalid_socket (see last_socket_error).
socket_handle create_stream_socket();

// The three socket-level options; each returns false on failure (see last_socket_error).
bool set_receive_timeout(socket_handle socket, int milliseconds);
bool set_send_timeout(socket_handle socket, int milliseconds);
bool set_linger(socket_handle socket, int seconds);  // linger on, for `seconds`
// Lets the kernel gather the small blocks a response is written in into full packets until the
// socket is shut down, instead of sending each block as a packet of its own or holding it back
// until the peer acknowledges the previous one. Returns false when the platform cannot.
bool gather_output(socket_handle socket);

// Whether a socket that accept returns carries the listening socket's options (time-outs,
// linger, gathering), so that setting them once on the listener is enough: true on Linux,
// false where that is not certain.
bool accepted_sockets_inherit_options();

// Binds to 127.0.0.1 and `port`. Returns false on failure (see last_socket_error).
bool bind_loopback(socket_handle socket, std::uint16_t port);

// Starts listening with `backlog` pending connections. Returns false on failure.
bool listen_on(socket_handle socket, int backlog);

// Waits until `socket` is readable (a connection is waiting to be accepted) for at most
// `seconds`. Returns a positive value when readable, 0 on time-out, negative on failure.
int wait_readable(socket_handle socket, int seconds);

// Accepts one connection and fills `peer`. Returns invalid_socket on failure; the caller owns
// the returned socket.
socket_handle accept_connection(socket_handle listener, peer_address& peer);

// Whether a blocking accept gives up after the listening socket's receive time-out (failing with
// a time-out error, see is_timeout_error) and returns at once, with a failure, once the listener
// is shut down (shutdown_both): true on Linux, false where that is not certain.
bool accept_times_out();

// Writes the peer's numeric host text (no name look-up) into `text`. Returns 0, or the failure
// number of the conversion.
int numeric_host(const peer_address& peer, char* text, std::size_t size);

// One receive of up to `size` bytes. Returns the count, 0 when the peer closed its side, or a
// negative value on failure or time-out.
std::ptrdiff_t receive_bytes(socket_handle socket, char* buffer, std::size_t size);

// One send of `size` bytes, which never raises a signal when the peer is gone. Returns the count
// sent (possibly short) or a negative value on failure or time-out.
std::ptrdiff_t send_bytes(socket_handle socket, const char* data, std::size_t size);

// Whether `error` (a number of last_socket_error) says that a receive or send ran out of its
// time-out rather than failed.
bool is_timeout_error(int error);

// Whether everything written to `socket`, and its shutdown, has left it (the peer may not have
// acknowledged all of it yet); false while some of it waits for the peer to take more, and where
// the platform cannot tell.
bool everything_sent(socket_handle socket);

// Shuts both directions down; the result is not reported.
void shutdown_both(socket_handle socket);

// Shuts the sending direction down (the peer reads the end of the data), leaving receives
// working; the result is not reported.
void shutdown_send(socket_handle socket);

// Closes the socket; the result is not reported.
void close_socket(socket_handle socket);

}  // namespace platform
}  // namespace ombrix
