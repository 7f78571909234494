// The REST entry point. Thread-safe: requests run concurrently on their connection threads and
// share only the session table.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "host/velquor_base.h"

namespace ombrix {

class session_table;

// Makes a connected host object from a server text; throws _com_error on failure.
using host_factory = std::function<std::shared_ptr<velquor_base>(const std::string&)>;

// Routes one request and runs its action. Returns the HTTP status and fills `reply` with a text
// whose first line is a Content-Type header (or leaves it empty). Catches every exception of the
// routing and the actions; only a failure while building the error reply itself can escape.
int dispatch_rest_request(std::int32_t connection, const std::string& environment_text,
                          const std::string& body, std::string& reply,
                          session_table& sessions, const host_factory& make_host);

// The same on the process-wide session table with create_host_server.
int dispatch_rest_request(std::int32_t connection, const std::string& environment_text,
                          const std::string& body, std::string& reply);

// The reply that the request of `environment_text` gets whatever its body holds, when its head
// alone decides it: a path outside the service, a missing token, a session that is not in
// `sessions`. Returns 0 when the body is needed, else the status with `reply` filled exactly as
// dispatch_rest_request would fill it. Lets a client that waits before sending its body be
// answered without sending it. Never throws.
int reply_decided_by_head(const std::string& environment_text, std::string& reply,
                          session_table& sessions);

// The same on the process-wide session table.
int reply_decided_by_head(const std::string& environment_text, std::string& reply);

}  // namespace ombrix
