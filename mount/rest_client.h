#pragma once
// A blocking REST client for one ombrix server on loopback, over libcurl. Thread safe: a request
// borrows an idle curl handle (or makes one) and gives it back; the token is guarded by a mutex.
// A request that gets 401 logs in once more and repeats. Status 0 means no reply within the
// time-out.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::mount {

struct rest_reply {
  int status = 0;
  std::string body;
  std::string etag;  // the ETag header's tag without its quotes; empty when none came
};

class rest_client {
 public:
  rest_client(int port, std::string server_name, std::string client, long timeout_seconds);
  ~rest_client();
  rest_client(const rest_client&) = delete;
  rest_client& operator=(const rest_client&) = delete;

  bool login();
  void logout();
  // method "GET", "PUT", "POST" or "DELETE"; path after "/quelm/restfs/"; `headers` are whole
  // header lines ("If-Match: \"...\"").
  rest_reply request(std::string_view method, const std::string& path,
                     const std::string& body = {}, const std::vector<std::string>& headers = {});
  // The number of HTTP requests sent so far (logins included).
  unsigned long requests_sent() const;

 private:
  rest_reply send(std::string_view method, const std::string& path, const std::string& body,
                  const std::vector<std::string>& headers, const std::string& token);
  void* borrow_handle();
  void return_handle(void* handle);

  std::string base_;
  std::string server_name_;
  std::string client_;
  long timeout_seconds_;
  mutable std::mutex mutex_;
  std::string token_;
  std::vector<void*> idle_handles_;
  unsigned long sent_ = 0;
};

}  // namespace ombrix::mount
