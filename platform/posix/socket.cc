// POSIX sockets for the platform layer.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#ifdef __linux__
#include <linux/sockios.h>
#endif
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace ombrix::platform {

static_assert(sizeof(sockaddr_storage) <= sizeof(peer_address::storage),
              "the peer address buffer must hold any socket address");

namespace {

bool set_timeout(socket_handle socket, int option, int milliseconds) {
  timeval value{};
  value.tv_sec = milliseconds / 1000;
  value.tv_usec = (milliseconds % 1000) * 1000;
  return ::setsockopt(socket, SOL_SOCKET, option, &value, sizeof value) == 0;
}

}  // namespace

// There is no library to start on POSIX.
socket_library::socket_library() = default;
socket_library::~socket_library() = default;

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

int last_socket_error() { return errno; }

socket_handle create_stream_socket() {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  return socket < 0 ? invalid_socket : socket;
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
  value.l_linger = seconds;
  return ::setsockopt(socket, SOL_SOCKET, SO_LINGER, &value, sizeof value) == 0;
}

bool gather_output(socket_handle socket) {
  // TCP_CORK holds partial packets until it is cleared or the socket is shut down, which every
  // connection ends with.
  const int on = 1;
  return ::setsockopt(socket, IPPROTO_TCP, TCP_CORK, &on, sizeof on) == 0;
}

bool accepted_sockets_inherit_options() {
#ifdef __linux__
  return true;  // the accepted socket is made as a copy of the listening one
#else
  return false;
#endif
}

bool bind_loopback(socket_handle socket, std::uint16_t port) {
  // Connections this server closed sit in TIME_WAIT on its port for a minute; without address
  // reuse a restarted server could not bind during that time. A port held by another listening
  // socket still fails to bind. A failure here only loses that convenience.
  const int reuse = 1;
  (void)::setsockopt(socket, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);

  sockaddr_storage storage{};
  auto* address = reinterpret_cast<sockaddr_in*>(&storage);
  address->sin_family = AF_INET;
  address->sin_port = htons(port);
  address->sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  // Some POSIX systems reject any length but the IPv4 address's own.
  return ::bind(socket, reinterpret_cast<const sockaddr*>(&storage), sizeof(sockaddr_in)) == 0;
}

bool listen_on(socket_handle socket, int backlog) { return ::listen(socket, backlog) == 0; }

int wait_readable(socket_handle socket, int seconds) {
  // poll rather than select: the same wait, without select's limit on descriptor numbers.
  pollfd entry{};
  entry.fd = socket;
  entry.events = POLLIN;
  return ::poll(&entry, 1, seconds * 1000);
}

socket_handle accept_connection(socket_handle listener, peer_address& peer) {
  socklen_t length = sizeof peer.storage;
  const int socket =
      ::accept4(listener, reinterpret_cast<sockaddr*>(peer.storage), &length, SOCK_CLOEXEC);
  if (socket < 0) return invalid_socket;
  peer.length = static_cast<int>(length);
  return socket;
}

bool everything_sent(socket_handle socket) {
#ifdef __linux__
  int unsent = 0;
  return ::ioctl(socket, SIOCOUTQNSD, &unsent) == 0 && unsent == 0;
#else
  (void)socket;
  return false;
#endif
}

bool accept_times_out() {
#ifdef __linux__
  return true;
#else
  return false;
#endif
}

int numeric_host(const peer_address& peer, char* text, std::size_t size) {
  // IPv4, every loopback client: the dotted quad written here, as getnameinfo would write it,
  // at a thirtieth of its cost (it and inet_ntop format through the stdio machinery).
  const auto* address = reinterpret_cast<const sockaddr*>(peer.storage);
  if (address->sa_family == AF_INET &&
      static_cast<std::size_t>(peer.length) >= sizeof(sockaddr_in)) {
    if (size < INET_ADDRSTRLEN) return EAI_OVERFLOW;
    unsigned char quad[4];
    std::memcpy(quad, &reinterpret_cast<const sockaddr_in*>(peer.storage)->sin_addr, sizeof quad);
    char* out = text;
    for (int i = 0; i < 4; ++i) {
      const unsigned value = quad[i];
      if (i > 0) *out++ = '.';
      if (value >= 100) *out++ = static_cast<char>('0' + value / 100);
      if (value >= 10) *out++ = static_cast<char>('0' + value / 10 % 10);
      *out++ = static_cast<char>('0' + value % 10);
    }
    *out = '\0';
    return 0;
  }
  return ::getnameinfo(reinterpret_cast<const sockaddr*>(peer.storage),
                       static_cast<socklen_t>(peer.length), text, static_cast<socklen_t>(size),
                       nullptr, 0, NI_NUMERICHOST);
}

std::ptrdiff_t receive_bytes(socket_handle socket, char* buffer, std::size_t size) {
  return ::recv(socket, buffer, size, 0);
}

std::ptrdiff_t send_bytes(socket_handle socket, const char* data, std::size_t size) {
  // MSG_NOSIGNAL: a peer that has gone away gives EPIPE instead of ending the process.
  return ::send(socket, data, size, MSG_NOSIGNAL);
}

bool is_timeout_error(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

void shutdown_both(socket_handle socket) { (void)::shutdown(socket, SHUT_RDWR); }

void shutdown_send(socket_handle socket) { (void)::shutdown(socket, SHUT_WR); }

void close_socket(socket_handle socket) { (void)::close(socket); }

}  // namespace ombrix::platform
