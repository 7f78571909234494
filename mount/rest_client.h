#pragma once
// A blocking REST client for one ombrix server on loopback, over libcurl. Thread safe: each
// request uses its own curl handle; the token is guarded by a mutex. A request that gets 401
// logs in once more and repeats. Status 0 means no reply within the time-out.

#include <mutex>
#include <string>
#include <string_view>

namespace ombrix::mount {

struct rest_reply {
  int status = 0;
  std::string body;
};

class rest_client {
 public:
  rest_client(int port, std::string server_name, std::string client, long timeout_seconds);

  bool login();
  void logout();
  // method "GET", "PUT", "POST" or "DELETE"; path after "/quelm/restfs/".
  rest_reply request(std::string_view method, const std::string& path,
                     const std::string& body = {});

 private:
  rest_reply send(std::string_view method, const std::string& path, const std::string& body,
                  const std::string& token);

  std::string base_;
  std::string server_name_;
  std::string client_;
  long timeout_seconds_;
  std::mutex mutex_;
  std::string token_;
};

}  // namespace ombrix::mount
