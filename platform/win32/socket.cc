// Windows Sockets 2 for the platform layer.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

namespace ombrix::platform {

static_assert(sizeof(SOCKET) == sizeof(socket_handle), "a socket handle must hold a SOCKET");
static_assert(sizeof(SOCKADDR_STORAGE) <= sizeof(peer_address::storage),
              "the peer address buffer must hold any socket address");

namespace {

SOCKET native(socket_handle socket) { return static_cast<SOCKET>(socket); }

bool set_timeout(socket_handle socket, int option, int milliseconds) {
  const DWORD value = static_cast<DWORD>(milliseconds);
  return ::setsockopt(native(socket), SOL_SOCKET, option, reinterpret_cast<const char*>(&value),
                      sizeof value) == 0;
}

}  // namespace

// Version 2.0 of the library is all the server uses.
socket_library::socket_library() {
  WSADATA data{};
  error_ = ::WSAStartup(MAKEWORD(2, 0), &data);
}

socket_library::~socket_library() {
  if (error_ == 0) (void)::WSACleanup();
}

unique_socket::~unique_socket() {
  if (socket_ != invalid_socket) close_socket(socket_);
}

unique_socket& unique_socket::operator=(unique_socket&& other) noexcept {
  if (this != &other) {
    if (socket_ != invalid_socket) close_socket(socket_);
    socket_ = other.release();
  }
  return *this;
}

int last_socket_error() { return ::WSAGetLastError(); }

socket_handle create_stream_socket() {
  // An overlapped-capable socket: blocking calls on it behave as on any other socket, and its
  // receive and send time-outs are honoured by every implementation of the library, which is
  // not true of sockets made without the flag.
  const SOCKET socket =
      ::WSASocketW(AF_INET, SOCK_STREAM, 0, nullptr, 0, WSA_FLAG_OVERLAPPED);
  return socket == INVALID_SOCKET ? invalid_socket : static_cast<socket_handle>(socket);
}

bool set_receive_timeout(socket_handle socket, int milliseconds) {
  return set_timeout(socket, SO_RCVTIMEO, milliseconds);
}

bool set_send_timeout(socket_handle socket, int milliseconds) {
  return set_timeout(socket, SO_SNDTIMEO, milliseconds);
}

bool set_linger(socket_handle socket, int seconds) {
  linger value{};
  value.l_onoff = 1;
  value.l_linger = static_cast<u_short>(seconds);
  return ::setsockopt(native(socket), SOL_SOCKET, SO_LINGER,
                      reinterpret_cast<const char*>(&value), sizeof value) == 0;
}

// Windows has no option that holds partial packets until shutdown.
bool gather_output(socket_handle) { return false; }

bool accepted_sockets_inherit_options() { return false; }

bool bind_loopback(socket_handle socket, std::uint16_t port) {
  // No address reuse here: on Windows it would let a second server take over a port in use.
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return ::bind(native(socket), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
}

bool listen_on(socket_handle socket, int backlog) {
  return ::listen(native(socket), backlog) == 0;
}

int wait_readable(socket_handle socket, int seconds) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(native(socket), &readable);
  timeval timeout{};
  timeout.tv_sec = seconds;
  // The first argument is ignored on Windows.
  return ::select(0, &readable, nullptr, nullptr, &timeout);
}

socket_handle accept_connection(socket_handle listener, peer_address& peer) {
  int length = static_cast<int>(sizeof peer.storage);
  const SOCKET socket =
      ::accept(native(listener), reinterpret_cast<sockaddr*>(peer.storage), &length);
  if (socket == INVALID_SOCKET) return invalid_socket;
  peer.length = length;
  return static_cast<socket_handle>(socket);
}

bool everything_sent(socket_handle) { return false; }

// The receive time-out does not bound accept here.
bool accept_times_out() { return false; }

int numeric_host(const peer_address& peer, char* text, std::size_t size) {
  return ::getnameinfo(reinterpret_cast<const sockaddr*>(peer.storage), peer.length, text,
                       static_cast<DWORD>(size), nullptr, 0, NI_NUMERICHOST);
}

std::ptrdiff_t receive_bytes(socket_handle socket, char* buffer, std::size_t size) {
  return ::recv(native(socket), buffer, static_cast<int>(size), 0);
}

// Windows raises no signal for a peer that has gone away.
std::ptrdiff_t send_bytes(socket_handle socket, const char* data, std::size_t size) {
  return ::send(native(socket), data, static_cast<int>(size), 0);
}

bool is_timeout_error(int error) { return error == WSAETIMEDOUT || error == WSAEWOULDBLOCK; }

void shutdown_both(socket_handle socket) { (void)::shutdown(native(socket), SD_BOTH); }

void shutdown_send(socket_handle socket) { (void)::shutdown(native(socket), SD_SEND); }

void close_socket(socket_handle socket) { (void)::closesocket(native(socket)); }

}  // namespace ombrix::platform
