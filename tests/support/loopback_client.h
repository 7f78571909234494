// The one loopback HTTP client of the tests and soak programs: one request per connection, read
// until the server closes. Standard library and POSIX only. Functions are thread-safe; a
// rest_client belongs to one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/expected_bytes.h"

namespace ombrix::test {

inline const std::string api = "/quelm/restfs/";

// Owns one socket; closing keeps errno.
class client_socket {
 public:
  client_socket() = default;
  explicit client_socket(int fd) : fd_(fd) {}
  ~client_socket() { reset(); }
  client_socket(client_socket&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  client_socket& operator=(client_socket&& other) noexcept { return std::swap(fd_, other.fd_), *this; }
  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset() {
    const int error = errno;
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
    errno = error;
  }

 private:
  int fd_ = -1;
};

inline sockaddr_in loopback_address(int port, const char* address = "127.0.0.1") {
  sockaddr_in result{};
  result.sin_family = AF_INET;
  result.sin_port = htons(static_cast<std::uint16_t>(port));
  ::inet_pton(AF_INET, address, &result.sin_addr);
  return result;
}

// A socket bound to a free loopback port, listening when `listen` is set; {socket, port}.
inline std::pair<client_socket, int> bound_socket(bool listen) {
  client_socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address = loopback_address(0);
  socklen_t length = sizeof address;
  if (!socket.valid() || ::bind(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      (listen && ::listen(socket.fd(), 1) != 0) ||
      ::getsockname(socket.fd(), reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    throw std::runtime_error("no free loopback port");
  }
  return {std::move(socket), ntohs(address.sin_port)};
}

inline int free_port() { return bound_socket(false).second; }

// Connects to address:port; invalid (errno set) when refused; `nonblocking`: the connect under way.
inline client_socket connect_loopback(int port, const char* address = "127.0.0.1", bool nonblocking = false) {
  client_socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonblocking ? SOCK_NONBLOCK : 0), 0));
  const sockaddr_in target = loopback_address(port, address);
  while (socket.valid() && ::connect(socket.fd(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    if (nonblocking && errno == EINPROGRESS) break;
    if (errno != EINTR) socket.reset();
  }
  return socket;
}

inline bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

struct read_result {
  std::string bytes;
  bool closed = false, reset = false, timed_out = false;  // reset: also never connected
};

inline read_result read_until_close(int fd, std::chrono::milliseconds timeout) {
  read_result result;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[16384];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) return result.timed_out = true, result;
    pollfd waiting{fd, POLLIN, 0};
    if (::poll(&waiting, 1, static_cast<int>(left.count())) <= 0) continue;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got > 0) result.bytes.append(buffer, static_cast<std::size_t>(got));
    else if (got == 0 || errno != EINTR) return result.closed = true, result.reset = got < 0, result;
  }
}

struct exchange_options {
  bool half_close = false;  // shut our sending side down after the request
  std::chrono::milliseconds timeout{15000};
};

inline read_result http_exchange(int port, std::string_view request, exchange_options options = {}) {
  const client_socket socket = connect_loopback(port);
  if (!socket.valid()) return read_result{{}, false, true, false};
  send_all(socket.fd(), request);
  if (options.half_close) ::shutdown(socket.fd(), SHUT_WR);
  return read_until_close(socket.fd(), options.timeout);
}

// A request with a Host header and, when `body` is not empty, a Content-Length header.
inline std::string http_request(std::string_view method, std::string_view target, std::string_view body = {},
                                const std::vector<std::string>& headers = {}) {
  std::string text;
  text.append(method).append(" ").append(target).append(" HTTP/1.1\r\nHost: 127.0.0.1\r\n");
  for (const auto& header : headers) text.append(header).append("\r\n");
  if (!body.empty()) text.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
  return text.append("\r\n").append(body);
}

// Base64 of the fixed unsecured JWT header {"alg":"none","typ":"JWT"}, with its padding.
inline constexpr std::string_view token_header = "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=";

struct http_response {
  std::string raw;
  int status = 0;             // 0 when there was no status line
  std::string headers, body;  // headers: up to and including the first CR LF CR LF
};

inline http_response parse_response(std::string raw) {
  http_response response;
  response.raw = std::move(raw);
  const std::string& text = response.raw;
  if (text.starts_with("HTTP/1.1 ") && text.size() >= 12) response.status = std::atoi(text.substr(9, 3).c_str());
  const std::size_t end = text.find("\r\n\r\n");
  response.headers = text.substr(0, end == std::string::npos ? end : end + 4);
  if (end != std::string::npos) response.body = text.substr(end + 4);
  return response;
}

// Each call is one connection carrying the session's token.
class rest_client {
 public:
  explicit rest_client(int port, std::string token = {}) : port_(port), token_(std::move(token)) {}

  // Logs in with `body`; true and the token kept when the server answered 200 with a token.
  bool login(std::string_view body = {}) {
    constexpr std::string_view prefix = "{\"token_type\":\"Bearer\",\"access_token\":\"";
    last_ = parse_response(http_exchange(port_, http_request("POST", api + "login", body)).bytes);
    const std::size_t end = last_.body.find('"', prefix.size());
    if (last_.status != 200 || !last_.body.starts_with(prefix) || end == std::string::npos) return false;
    token_ = last_.body.substr(prefix.size(), end - prefix.size());
    return true;
  }

  http_response call(std::string_view method, std::string_view target, std::string_view body = {},
                     std::vector<std::string> headers = {}) {
    if (!token_.empty()) headers.push_back("Authorization: Bearer " + token_);
    return last_ = parse_response(http_exchange(port_, http_request(method, target, body, headers)).bytes);
  }
  http_response get(std::string_view target) { return call("GET", target); }
  http_response put(std::string_view target, std::string_view body) { return call("PUT", target, body); }
  http_response post(std::string_view target, std::string_view body) { return call("POST", target, body); }

  const std::string& token() const { return token_; }
  const http_response& last() const { return last_; }

 private:
  int port_;
  std::string token_;
  http_response last_;
};

}  // namespace ombrix::test
