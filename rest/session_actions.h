// Login and logout: the two actions that create and end sessions. Thread-safe: they touch
// shared state only through the session table and the server_running flag.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "rest/dispatcher.h"
#include "rest/session_table.h"

namespace ombrix {

// The server text a login connects with: "**" + client for the server name "*", the name and
// "*" + client when the name holds a "*", otherwise the name, "**" and the client.
std::string compose_server_text(std::string_view server_name, std::string_view client);

// "POST" "login": connects a host object made by `make_host` from the body's ServerName and
// Client, records the session under the connection's id and answers 200 with the token.
// Answers 401 when `make_host` yields no object. Host failures (_com_error) propagate; no
// session is added then.
int login_action(std::int32_t connection, const std::string& body, std::string& reply,
                 session_table& sessions, const host_factory& make_host);

// "GET" "logout": removes the session `session_id` names (empty: nothing happens) and answers
// 200 with the empty reply, on context.sessions. Under context.config.exit_on_logout it first
// tells the session's host (from context.make_host) to quit (failures ignored) and clears
// context.server_running once the table is empty.
int logout_action(const std::string& session_id, std::string& reply, const rest_context& context);

}  // namespace ombrix
