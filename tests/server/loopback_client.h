// Loopback sockets for the listener tests: free ports, a client connection, and one exchange
// read up to the server's close. Functions are thread-safe (no shared state).
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <string>
#include <utility>

namespace ombrix::test {

inline sockaddr_in loopback_address(const char* address, int port) {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, address, &result.sin_addr);
  return result;
}

// A socket bound to a free loopback port (listening when `listen` is set); returns {fd, port}.
inline std::pair<int, int> bound_socket(bool listen) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address = loopback_address("127.0.0.1", 0);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listen && ::listen(fd, 1) != 0) ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ADD_FAILURE() << "no free port: " << errno;
  }
  return {fd, ntohs(address.sin_port)};
}

// A port that was free a moment ago.
inline int free_port() {
  const auto [fd, port] = bound_socket(false);
  ::close(fd);
  return port;
}

// Connects to address:port with a 10 s receive time-out; returns the socket or -1 with errno set.
inline int connect_to(int port, const char* address = "127.0.0.1") {
  const int client = ::socket(AF_INET, SOCK_STREAM, 0);
  const timeval timeout{10, 0};
  ::setsockopt(client, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  const sockaddr_in target = loopback_address(address, port);
  if (::connect(client, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    const int error = errno;
    ::close(client);
    errno = error;
    return -1;
  }
  return client;
}

// One connection: connect, read everything the server sends up to its close (or a reset), close.
inline std::string exchange(int port) {
  const int client = connect_to(port);
  if (client < 0) {
    ADD_FAILURE() << "connect failed: " << errno;
    return {};
  }
  std::string all;
  char buffer[256];
  for (ssize_t got; (got = ::recv(client, buffer, sizeof buffer, 0)) > 0;) {
    all.append(buffer, static_cast<std::size_t>(got));
  }
  ::close(client);
  return all;
}

}  // namespace ombrix::test
