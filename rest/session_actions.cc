#include "rest/session_actions.h"

#include <memory>
#include <string>
#include <utility>

#include "host/text.h"
#include "rest/access_token.h"
#include "json/json_object.h"
#include "json/json_writer.h"
#include "rest/kelm_info.h"
#include "json/reply_texts.h"

namespace ombrix {

namespace {

constexpr std::uint32_t object_complete = 2;
// Each session keeps its login texts for its whole life; bounded, the session table's memory is.
constexpr std::size_t max_login_text_bytes = 4096;
constexpr std::uint32_t kind_string = 10;

// The text of member `name` when the member is a string; `fallback` otherwise.
std::string string_member(const json_members& members, const char* name, std::string fallback) {
  auto found = members.find(name);
  if (found == members.end() || found->second.kind != kind_string) return fallback;
  return found->second.text;
}

}  // namespace

std::string compose_server_text(std::string_view server_name, std::string_view client) {
  std::string server_text;
  if (server_name == "*") {
    server_text = "**";
  } else if (server_name.find('*') == std::string_view::npos) {
    server_text.assign(server_name).append("**");
  } else {
    server_text.assign(server_name).append("*");
  }
  server_text.append(client);
  return server_text;
}

int login_action(std::int32_t connection, const std::string& body, std::string& reply,
                 session_table& sessions, const host_factory& make_host) {
  std::string server_name = "*";
  std::string client;
  json_members members;
  if (parse_json_object(body.data(), static_cast<std::uint32_t>(body.size()), members) ==
      object_complete) {
    server_name = string_member(members, "ServerName", server_name);
    client = string_member(members, "Client", client);
  }
  for (const auto& [name, value] : {std::pair{"ServerName", &server_name}, {"Client", &client}}) {
    if (value->size() > max_login_text_bytes) {
      std::string message = "'";
      message.append(name).append("' property must not exceed ");
      message.append(std::to_string(max_login_text_bytes)).append(" bytes.");
      return make_error_reply(reply, 400, "", message);
    }
  }

  std::string session_id = session_id_for_connection(connection);
  std::string server_text = compose_server_text(server_name, client);
  std::shared_ptr<velquor_base> host = make_host(server_text);
  if (!host) {
    return make_error_reply(reply, 401, "",
                            "Connection failure - unable to connect to server '" + server_text +
                                "'.");
  }

  json_writer answer;
  answer.begin_object();
  answer.key("token_type");
  answer.string("Bearer");
  answer.key("access_token");
  answer.string(make_access_token(session_id));
  answer.end_object();

  // Later requests reconnect from server_text, which always names the host's own server with
  // "**", whatever form the login was given.
  auto record = std::make_shared<kelm_info>();
  record->server_text = to_default_codepage(host->get_server_name()) + "**" + client;
  record->account_name = to_default_codepage(host->get_property_3());
  record->md_name = to_default_codepage(host->get_property_5());
  sessions.add_session(session_id, std::move(record));

  reply = json_reply(answer.view());
  return 200;
}

int logout_action(const std::string& session_id, std::string& reply, const rest_context& context) {
  session_table& sessions = context.sessions;
  const bool exit_on_logout = context.config.exit_on_logout;
  reply.clear();
  if (session_id.empty()) return 200;
  if (exit_on_logout) {
    if (std::shared_ptr<const kelm_info> record = sessions.find_session(session_id)) {
      // The stop must not depend on the host: a host that cannot be reached or refuses to
      // quit still lets the session end.
      try {
        std::shared_ptr<velquor_base> host = context.make_host(record->server_text);
        if (host) host->quit();
      } catch (...) {
      }
    }
  }
  sessions.remove_session(session_id);
  if (exit_on_logout && sessions.session_count() == 0) context.server_running = false;
  return 200;
}

}  // namespace ombrix
