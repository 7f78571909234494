// Raw HTTP over loopback for the end-to-end tests: one request per connection, the response read
// until the server closes, and builders for the exact bytes the server is expected to send.
// Functions are thread-safe (no shared state); a rest_client belongs to one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tests/expected_bytes.h"

namespace ombrix::e2e {

using namespace ombrix::test;  // the expected bytes

// The path prefix of every REST request.
inline const std::string api = "/quelm/restfs/";

// Owns one client socket.
class client_socket {
 public:
  client_socket() = default;
  explicit client_socket(int fd) : fd_(fd) {}
  ~client_socket() { reset(); }
  client_socket(client_socket&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  client_socket& operator=(client_socket&& other) noexcept {
    if (this != &other) {
      reset();
      fd_ = other.fd_;
      other.fd_ = -1;
    }
    return *this;
  }
  client_socket(const client_socket&) = delete;
  client_socket& operator=(const client_socket&) = delete;

  int fd() const { return fd_; }
  bool valid() const { return fd_ >= 0; }
  void reset() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  int fd_ = -1;
};

// The address 127.0.0.1:port.
inline sockaddr_in loopback_address(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<uint16_t>(port));
  return address;
}

// A non-blocking connect to 127.0.0.1:port; invalid when it fails at once. The kernel
// completes it into the listen queue whether or not the server can accept it.
inline client_socket start_connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd < 0) return client_socket();
  client_socket socket(fd);
  const sockaddr_in address = loopback_address(port);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 &&
      errno != EINPROGRESS) {
    return client_socket();
  }
  return socket;
}

// Connects to 127.0.0.1:port; an invalid socket when the connection is refused or fails.
inline client_socket connect_loopback(int port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return client_socket();
  client_socket socket(fd);
  const sockaddr_in address = loopback_address(port);
  while (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    if (errno != EINTR) return client_socket();
  }
  return socket;
}

// Sends all of `bytes`; false when the peer refused them (reset, closed).
inline bool send_all(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == EINTR) continue;
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return true;
}

struct read_result {
  std::string bytes;       // everything received
  bool closed = false;     // the server closed the connection (orderly or by reset)
  bool reset = false;      // the connection was reset
  bool timed_out = false;  // the deadline passed before the server closed
};

// Reads until the peer closes or `timeout` passes.
inline read_result read_until_close(int fd, std::chrono::milliseconds timeout) {
  read_result result;
  auto deadline = std::chrono::steady_clock::now() + timeout;
  char buffer[16384];
  for (;;) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0) {
      result.timed_out = true;
      return result;
    }
    pollfd waiting{fd, POLLIN, 0};
    int ready = ::poll(&waiting, 1, static_cast<int>(left.count()));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;  // the deadline check above ends the loop
    ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got > 0) {
      result.bytes.append(buffer, static_cast<size_t>(got));
    } else if (got == 0) {
      result.closed = true;
      return result;
    } else if (errno != EINTR) {
      result.closed = true;
      result.reset = true;
      return result;
    }
  }
}

struct exchange_options {
  bool half_close = false;  // shut down our sending side after the request
  std::chrono::milliseconds timeout{15000};
};

// One connection: sends `request`, then reads the whole response until the server closes.
inline read_result http_exchange(int port, std::string_view request, exchange_options options = {}) {
  client_socket socket = connect_loopback(port);
  if (!socket.valid()) {
    read_result failed;
    failed.reset = true;
    return failed;
  }
  send_all(socket.fd(), request);
  if (options.half_close) ::shutdown(socket.fd(), SHUT_WR);
  return read_until_close(socket.fd(), options.timeout);
}

// A request with a Host header and, when `body` is not empty, a Content-Length header.
inline std::string http_request(std::string_view method, std::string_view target,
                                std::string_view body = {},
                                const std::vector<std::string>& headers = {}) {
  std::string text;
  text.append(method).append(" ").append(target).append(" HTTP/1.1\r\nHost: 127.0.0.1\r\n");
  for (const auto& header : headers) text.append(header).append("\r\n");
  if (!body.empty()) text.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n");
  text.append("\r\n").append(body);
  return text;
}

// ---- Tokens --------------------------------------------------------------------------------

// Base64 of the fixed unsecured JWT header {"alg":"none","typ":"JWT"}, with its padding.
inline constexpr std::string_view token_header = "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=";

// URL-safe Base64 with "=" padding, as the server writes token payloads.
inline std::string base64url(std::string_view bytes) {
  static const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    uint32_t n = uint32_t(uint8_t(bytes[i])) << 16;
    if (i + 1 < bytes.size()) n |= uint32_t(uint8_t(bytes[i + 1])) << 8;
    if (i + 2 < bytes.size()) n |= uint8_t(bytes[i + 2]);
    // A group of n input bytes gives n + 1 characters, padded with '=' to four.
    for (size_t k = 0; k < 4; ++k) out += i + k <= bytes.size() ? alphabet[(n >> (18 - 6 * k)) & 63] : '=';
  }
  return out;
}

// The access token the server issues for session id `sid` (lower-case hexadecimal).
inline std::string token_for_sid(std::string_view sid) {
  return std::string(token_header) + "." + base64url("{\"sid\":\"" + std::string(sid) + "\"}");
}

// ---- Parsed responses ----------------------------------------------------------------------

struct http_response {
  std::string raw;
  int status = 0;        // 0 when there was no status line
  std::string headers;   // the header block up to and including the first CR LF CR LF
  std::string body;      // the bytes after it
};

inline http_response parse_response(std::string raw) {
  http_response response;
  response.raw = std::move(raw);
  const std::string& text = response.raw;
  if (text.starts_with("HTTP/1.1 ") && text.size() >= 12) {
    response.status = std::atoi(text.substr(9, 3).c_str());
  }
  size_t end = text.find("\r\n\r\n");
  if (end != std::string::npos) {
    response.headers = text.substr(0, end + 4);
    response.body = text.substr(end + 4);
  } else {
    response.headers = text;
  }
  return response;
}

// The access token from a login reply body, or nullopt when the body is not one.
inline std::optional<std::string> token_from_login(std::string_view body) {
  constexpr std::string_view prefix = "{\"token_type\":\"Bearer\",\"access_token\":\"";
  if (!body.starts_with(prefix)) return std::nullopt;
  size_t end = body.find('"', prefix.size());
  if (end == std::string_view::npos) return std::nullopt;
  return std::string(body.substr(prefix.size(), end - prefix.size()));
}

// A session-bound client: each call is one connection carrying the session's token.
class rest_client {
 public:
  explicit rest_client(int port, std::string token = {}) : port_(port), token_(std::move(token)) {}

  // Logs in with `body`; true and the token kept when the server answered 200 with a token.
  bool login(std::string_view body = {}) {
    last_ = parse_response(http_exchange(port_, http_request("POST", api + "login", body)).bytes);
    if (last_.status != 200) return false;
    auto token = token_from_login(last_.body);
    if (!token) return false;
    token_ = *token;
    return true;
  }

  http_response call(std::string_view method, std::string_view target, std::string_view body = {},
                     std::vector<std::string> headers = {}) {
    if (!token_.empty()) headers.push_back("Authorization: Bearer " + token_);
    last_ = parse_response(http_exchange(port_, http_request(method, target, body, headers)).bytes);
    return last_;
  }
  http_response get(std::string_view target) { return call("GET", target); }
  http_response put(std::string_view target, std::string_view body) { return call("PUT", target, body); }
  http_response post(std::string_view target, std::string_view body) { return call("POST", target, body); }
  http_response del(std::string_view target) { return call("DELETE", target); }

  const std::string& token() const { return token_; }
  const http_response& last() const { return last_; }

 private:
  int port_;
  std::string token_;
  http_response last_;
};

}  // namespace ombrix::e2e
