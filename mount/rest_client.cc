#include "mount/rest_client.h"

#include <curl/curl.h>

#include <memory>

#include "json/json_writer.h"

namespace ombrix::mount {
namespace {

std::size_t append_body(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// Keeps the tag of an "ETag: "..."" header line.
std::size_t read_header(char* data, std::size_t size, std::size_t count, void* out) {
  const std::string_view line(data, size * count);
  constexpr std::string_view name = "etag:";
  if (line.size() > name.size()) {
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = (line[i] | 0x20) == name[i] || (line[i] == ':' && name[i] == ':');
    }
    const std::size_t open = line.find('"');
    const std::size_t close = line.rfind('"');
    if (same && open != std::string_view::npos && close > open) {
      *static_cast<std::string*>(out) = std::string(line.substr(open + 1, close - open - 1));
    }
  }
  return size * count;
}

struct slist_deleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

}  // namespace

rest_client::rest_client(int port, std::string server_name, std::string client,
                         long timeout_seconds)
    : base_("http://127.0.0.1:" + std::to_string(port) + "/quelm/restfs/"),
      server_name_(std::move(server_name)),
      client_(std::move(client)),
      timeout_seconds_(timeout_seconds) {}

rest_client::~rest_client() {
  for (void* handle : idle_handles_) curl_easy_cleanup(static_cast<CURL*>(handle));
}

void* rest_client::borrow_handle() {
  {
    const std::lock_guard lock(mutex_);
    ++sent_;
    if (!idle_handles_.empty()) {
      void* handle = idle_handles_.back();
      idle_handles_.pop_back();
      return handle;
    }
  }
  return curl_easy_init();
}

void rest_client::return_handle(void* handle) {
  curl_easy_reset(static_cast<CURL*>(handle));
  const std::lock_guard lock(mutex_);
  idle_handles_.push_back(handle);
}

unsigned long rest_client::requests_sent() const {
  const std::lock_guard lock(mutex_);
  return sent_;
}

rest_reply rest_client::send(std::string_view method, const std::string& path,
                             const std::string& body, const std::vector<std::string>& headers,
                             const std::string& token) {
  rest_reply reply;
  CURL* h = static_cast<CURL*>(borrow_handle());
  if (h == nullptr) return reply;
  const std::string url = base_ + path;
  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_PATH_AS_IS, 1L);
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_TIMEOUT, timeout_seconds_);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, timeout_seconds_);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, append_body);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &reply.body);
  curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, read_header);
  curl_easy_setopt(h, CURLOPT_HEADERDATA, &reply.etag);
  const std::string method_text(method);
  curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, method_text.c_str());
  if (method == "PUT" || method == "POST") {
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, body.c_str());
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE, static_cast<long>(body.size()));
  }
  curl_slist* list = curl_slist_append(nullptr, "Expect:");
  if (!token.empty()) {
    const std::string line = "Authorization: Bearer " + token;
    list = curl_slist_append(list, line.c_str());
  }
  for (const std::string& line : headers) list = curl_slist_append(list, line.c_str());
  std::unique_ptr<curl_slist, slist_deleter> header_list(list);
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, list);
  if (curl_easy_perform(h) != CURLE_OK) {
    reply.body.clear();
    reply.etag.clear();
  } else {
    long status = 0;
    curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
    reply.status = static_cast<int>(status);
  }
  return_handle(h);
  return reply;
}

bool rest_client::login() {
  json_writer writer;
  writer.begin_object();
  writer.key("ServerName");
  writer.string(server_name_);
  writer.key("Client");
  writer.string(client_);
  writer.end_object();
  const rest_reply reply = send("POST", "login", writer.text(), {}, {});
  constexpr std::string_view key = "\"access_token\":\"";
  const std::size_t at = reply.body.find(key);
  if (reply.status != 200 || at == std::string::npos) return false;
  const std::size_t start = at + key.size();
  const std::size_t end = reply.body.find('"', start);
  if (end == std::string::npos) return false;
  const std::lock_guard lock(mutex_);
  token_ = reply.body.substr(start, end - start);
  return true;
}

void rest_client::logout() {
  std::string token;
  {
    const std::lock_guard lock(mutex_);
    token.swap(token_);
  }
  if (!token.empty()) send("GET", "logout", {}, {}, token);
}

rest_reply rest_client::request(std::string_view method, const std::string& path,
                                const std::string& body, const std::vector<std::string>& headers) {
  std::string token;
  {
    const std::lock_guard lock(mutex_);
    token = token_;
  }
  rest_reply reply = send(method, path, body, headers, token);
  if (reply.status == 401 && login()) {
    {
      const std::lock_guard lock(mutex_);
      token = token_;
    }
    reply = send(method, path, body, headers, token);
  }
  return reply;
}

}  // namespace ombrix::mount
