#include "rest/dispatcher.h"

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "host/com_error.h"
#include "host/host_errors.h"
#include "host/text.h"
#include "base/text_helpers.h"
#include "rest/access_token.h"
#include "rest/action_request.h"
#include "rest/actions.h"
#include "rest/environment.h"
#include "json/reply_texts.h"
#include "rest/session_actions.h"
#include "rest/session_table.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

using file_action = int (*)(const action_request&, std::string&);

// The actions that run on a session's host object, by method and action name (both compared
// exactly). Login and logout need neither session nor host and are picked before the session
// check, so they have no row here.
struct route {
  std::string_view method;
  std::string_view action;
  file_action run;
};

constexpr route routes[] = {
    {"GET", "file", read_item_action},      {"PUT", "file", update_item_action},
    {"POST", "create", create_item_action}, {"DELETE", "file", delete_item_action},
    {"GET", "dir", list_directory_action},  {"GET", "stat", stat_action},
    {"GET", "rename", rename_action},       {"POST", "cmd", command_action},
    {"POST", "call", call_action},          {"POST", "touch", touch_item_action},
};

const route* find_route(std::string_view method, std::string_view action) {
  for (const route& candidate : routes) {
    if (candidate.method == method && candidate.action == action) return &candidate;
  }
  return nullptr;
}

// Host errors of the interface facility carry the host's own number in their low 16 bits;
// numbers 200 to 203 say that a named file or item does not exist.
int com_error_reply(const _com_error& error, std::string& reply, const settings& config) {
  if (config.debug_enabled(1)) {
    debug_line(config, 1,
               "COM error: " + to_default_codepage(error.Description()) + " [0x" +
                   hresult_hex(error.Error()) + "]");
  }
  std::string message = to_utf8(error.Description());
  if (const std::optional<std::uint32_t> number = host_error_number(error.Error())) {
    return make_error_reply(reply, host_error_status(*number), static_cast<std::int64_t>(*number),
                            message);
  }
  return make_error_reply(reply, 500, hresult_hex(error.Error()), message);
}

// What the head of a request names: its method, action, the path after the action, the
// session id of its token.
struct request_head {
  std::string method;
  std::string action_name;
  std::vector<std::string> rest;
  std::string session_id;
};

bool is_login(const request_head& head) {
  return head.method == "POST" && head.action_name == "login";
}
bool is_logout(const request_head& head) {
  return head.method == "GET" && head.action_name == "logout";
}

// Reads the head of a request and refuses what the head alone refuses: a path outside the
// service, and (but for login and logout) a missing token. Returns 0 to go on.
int check_head(const environment& env, request_head& head, std::string& reply) {
  head.method = std::string(env.value("REQUEST_METHOD"));
  std::string path = url_decode(env.value("PATH_INFO"));
  if (path.size() > 1 && path.front() == '/') path.erase(0, 1);

  std::vector<std::string> segments = split(path, "/");
  if (segments.size() < 3) {
    return make_error_reply(reply, 400, "",
                            "URL path too short. Path must begin with /quelm/restfs");
  }
  if (segments[0] != "quelm" || segments[1] != "restfs") {
    return make_error_reply(reply, 400, "", "URL path must begin with /quelm/restfs");
  }
  head.action_name = segments[2];
  head.rest.assign(segments.begin() + 3, segments.end());
  head.session_id = session_id_from_authorization(env.value("HTTP_AUTHORIZATION"));
  if (is_login(head) || is_logout(head)) return 0;
  if (head.session_id.empty()) {
    return make_error_reply(reply, 401, "",
                            "Authorization token must be included in the Authorization header.");
  }
  return 0;
}

// The refusal of a session that is not (or no longer) usable.
int unknown_session_reply(const request_head& head, std::string& reply, const settings& config) {
  if (config.debug_enabled(1)) {
    debug_line(config, 1,
               "session '" + head.session_id + "' not found for '" + head.action_name +
                   "' action: " + join(head.rest, "/"));
  }
  return make_error_reply(reply, 401, "",
                          "Session for authorization token not found (new login required).");
}

int route_request(std::int32_t connection, const std::string& environment_text,
                  const std::string& body, std::string& reply, const rest_context& context,
                  std::shared_ptr<const std::string>* kept_reply) {
  session_table& sessions = context.sessions;
  const host_factory& make_host = context.make_host;
  const environment env(environment_text);
  request_head head;
  if (const int refused = check_head(env, head, reply); refused != 0) return refused;
  if (is_login(head)) return login_action(connection, body, reply, sessions, make_host);
  if (is_logout(head)) return logout_action(head.session_id, reply, context);

  std::shared_ptr<const kelm_info> session = sessions.find_session(head.session_id);
  std::shared_ptr<velquor_base> host;
  if (session) host = make_host(session->server_text);
  if (!session || !host) {
    sessions.remove_session(head.session_id);
    return unknown_session_reply(head, reply, context.config);
  }
  const std::string& method = head.method;
  const std::string& action_name = head.action_name;
  std::vector<std::string>& rest = head.rest;

  const route* chosen = find_route(method, action_name);
  if (chosen == nullptr) {
    if (context.config.debug_enabled(1)) {
      debug_line(context.config, 1,
                 "invalid method '" + method + "' or action '" + action_name + "'");
    }
    return make_error_reply(reply, 400, "",
                            "Invalid method '" + method + "' or action '" + action_name +
                                "' in request.");
  }
  const action_request request{action_name, std::move(rest), body,          env,
                               *session,    *host,           context.locks, context.config,
                               kept_reply};
  return chosen->run(request, reply);
}

}  // namespace

int dispatch_rest_request(std::int32_t connection, const std::string& environment_text,
                          const std::string& body, std::string& reply,
                          const rest_context& context,
                          std::shared_ptr<const std::string>* kept_reply) {
  try {
    return route_request(connection, environment_text, body, reply, context, kept_reply);
  } catch (const _com_error& error) {
    if (kept_reply != nullptr) kept_reply->reset();
    return com_error_reply(error, reply, context.config);
  } catch (...) {
    if (kept_reply != nullptr) kept_reply->reset();
    return make_error_reply(reply, 500, "", "Unexpected exception");
  }
}

int reply_decided_by_head(const std::string& environment_text, std::string& reply,
                          const rest_context& context) {
  try {
    const environment env(environment_text);
    request_head head;
    if (const int refused = check_head(env, head, reply); refused != 0) return refused;
    if (is_login(head) || is_logout(head) || context.sessions.find_session(head.session_id)) {
      return 0;
    }
    return unknown_session_reply(head, reply, context.config);
  } catch (...) {
    reply.clear();
    return 0;  // the dispatcher answers the failure itself once the body is in
  }
}

}  // namespace ombrix
