// The REST entry point. Thread-safe: requests run concurrently on their connection threads and
// share only what their rest_context names.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/settings.h"
#include "host/velquor_base.h"

namespace ombrix {

class item_lock_table;
class session_table;

// Makes a connected host object from a server text; throws _com_error on failure.
using host_factory = std::function<std::shared_ptr<velquor_base>(const std::string&)>;

// What the REST layer uses of the process; the owner (the server's process context, or a test)
// keeps every part alive while requests run. The parts are shared by all requests.
struct rest_context {
  const settings& config;
  session_table& sessions;
  item_lock_table& locks;  // held around every change of an item
  host_factory make_host;
  std::atomic<bool>& server_running;  // cleared by a logout that ends the server
};

// Routes one request and runs its action. Returns the HTTP status and fills `reply` with a text
// whose first line is a Content-Type header (or leaves it empty). Catches every exception of the
// routing and the actions; only a failure while building the error reply itself can escape.
// With `kept_reply`, a GET of an item or a listing whose reply the host keeps sets it to that
// kept text, shared and not copied, instead of filling `reply`; it is null after any other
// request and after a failure.
int dispatch_rest_request(std::int32_t connection, const std::string& environment_text,
                          const std::string& body, std::string& reply, const rest_context& context,
                          std::shared_ptr<const std::string>* kept_reply = nullptr);

// The reply that the request of `environment_text` gets whatever its body holds, when its head
// alone decides it: a path outside the service, a missing token, a session that is not in
// context.sessions. Returns 0 when the body is needed, else the status with `reply` filled
// exactly as dispatch_rest_request would fill it. Lets a client that waits before sending its
// body be answered without sending it. Never throws.
int reply_decided_by_head(const std::string& environment_text, std::string& reply,
                          const rest_context& context);

}  // namespace ombrix
