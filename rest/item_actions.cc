// The item actions: read (GET file), update (PUT file), create (POST create), delete
// (DELETE file). Every check runs before the first host call, so a refused request changes
// nothing on the host.
//
// Conditional requests (conditional_request.h): PUT and DELETE with If-Match or If-None-Match
// are checked and carried out in one host step (change_item_if) under the item lock, and
// answered 412 when the condition does not hold; GET evaluates If-Match. Such requests, and
// those with the query parameter etag, get the item's ETag line. The query parameter id names
// the item when given (item_segments).

#include <cstdint>
#include <limits>
#include <string>

#include "base/text_helpers.h"
#include "host/item_tag.h"
#include "rest/actions.h"
#include "rest/conditional_request.h"
#include "rest/item_path.h"
#include "rest/json/item_text.h"
#include "rest/json/json_object.h"
#include "rest/json/json_tokenizer.h"
#include "rest/json/json_writer.h"
#include "rest/json/reply_texts.h"
#include "base/diagnostics.h"
#include "base/settings.h"

namespace ombrix {

namespace {

constexpr int bad_request = 400;

// Writes the diagnostic line (when enabled) and answers 400 with the empty code.
int refuse_body(std::string& reply, const std::string& diagnostic, std::string_view message) {
  debug_line(1, diagnostic);
  return make_error_reply(reply, bad_request, "", message);
}

// Update and create share one handler; `create` adds the dir option check and the create calls.
int store_item(const action_request& request, std::string& reply, bool create) {
  std::optional<item_path> path =
      checked_item_path(path_action::update_create,
                        item_segments(request.rest, request.env.value("QS_ID")),
                        request.session, reply);
  if (!path) return path_refusal_status;
  const std::string& action = request.action_name;

  if (create && equals_ignore_case(request.env.value("QS_DIR"), "true")) {
    return refuse_body(reply,
                       "invalid option 'dir=true' for '" + action + "': " + join(request.rest, "/"),
                       "Creating new directories is not supported.");
  }

  const std::string& body = request.body;
  json_members members;
  // A body beyond the 32-bit offsets of the parser cannot be a valid payload.
  if (body.size() > std::numeric_limits<std::uint32_t>::max() ||
      parse_json_object(body.data(), static_cast<std::uint32_t>(body.size()), members) !=
          json_kind::end_object) {
    return refuse_body(reply, "invalid JSON payload for '" + action, "Malformed JSON payload.");
  }
  auto data = members.find("data");
  if (data == members.end()) {
    return refuse_body(reply, "no 'data' property found for '" + action + "'",
                       "'data' property missing from JSON payload.");
  }
  if (data->second.kind != json_kind::begin_array) {
    return refuse_body(reply, "'data' property must be a JSON array for '" + action + "'",
                       "'data' property must be a JSON array.");
  }
  json_tokenizer tokenizer;
  tokenizer.init(body.data() + data->second.span_begin(),
                 data->second.span_end() - data->second.span_begin());
  text content;
  if (!json_to_item(tokenizer, content)) {
    return refuse_body(reply, "invalid JSON array format for '" + action + "'",
                       "Malformed JSON array in 'data' property.");
  }

  const bool tagged = wants_item_tag(request.env);
  const std::optional<item_condition> condition = request_condition(request.env);
  if (!condition) return refuse_body(reply, "invalid If-Match or If-None-Match header for '" + action + "'",
                                     "Malformed If-Match or If-None-Match header.");

  const auto held = request.locks.lock(request.session.account_name, path->file, path->item);
  if (!create && !condition->empty()) {
    if (!request.host.change_item_if(path->file, path->item, &content, *condition)) {
      return refuse_precondition(reply);
    }
  } else if (!create) {
    request.host.write_item(path->file, path->item, content, unused_item_option,
                            unused_item_option, unused_item_option, unused_item_option);
  } else if (host_version == 71) {
    // Generation 7.1 creates the item empty and fills it in a second call.
    request.host.create_item(path->file, path->item, text{});
    request.host.write_item(path->file, path->item, content, unused_item_option,
                            unused_item_option, unused_item_option, unused_item_option);
  } else {
    request.host.create_item(path->file, path->item, content);
  }
  reply.clear();
  if (tagged) add_tag_line(reply, item_tag(content));
  return 200;
}

}  // namespace

int read_item_action(const action_request& request, std::string& reply) {
  std::optional<item_path> path =
      checked_item_path(path_action::read, item_segments(request.rest, request.env.value("QS_ID")),
                        request.session, reply);
  if (!path) return path_refusal_status;
  const bool tagged = wants_item_tag(request.env);
  std::optional<item_condition> condition;
  if (tagged) {
    condition = request_condition(request.env);
    if (!condition) {
      return refuse_body(reply, "invalid If-Match or If-None-Match header for 'file'",
                         "Malformed If-Match or If-None-Match header.");
    }
    // A read evaluates If-Match only.
    condition->must_be_absent = false;
    condition->none_match.clear();
  }

  text content = request.host.read_item(path->file, path->item, unused_item_option,
                                           unused_item_option, unused_item_option,
                                           unused_item_flag);
  std::string tag;
  if (tagged) {
    if (!condition->holds(&content)) return refuse_precondition(reply);
    tag = item_tag(content);
  }

  json_writer writer;
  writer.begin_object();
  writer.key("id");
  writer.string(to_utf8(path->item));
  writer.key("type");
  writer.string("array");
  writer.key("data");
  item_to_json(writer, content, 0);
  writer.end_object();
  // The text is not needed any more: freed before the reply is made, a large item is held at
  // most twice at any moment (text and JSON, then JSON and reply), not three times.
  text().swap(content);
  reply = json_reply(writer.view());
  if (tagged) add_tag_line(reply, tag);
  return 200;
}

int update_item_action(const action_request& request, std::string& reply) {
  return store_item(request, reply, false);
}

int create_item_action(const action_request& request, std::string& reply) {
  return store_item(request, reply, true);
}

int delete_item_action(const action_request& request, std::string& reply) {
  std::optional<item_path> path =
      checked_item_path(path_action::remove,
                        item_segments(request.rest, request.env.value("QS_ID")), request.session,
                        reply);
  if (!path) return path_refusal_status;
  const std::optional<item_condition> condition = request_condition(request.env);
  if (!condition) {
    return refuse_body(reply, "invalid If-Match or If-None-Match header for 'file'",
                       "Malformed If-Match or If-None-Match header.");
  }

  const auto held = request.locks.lock(request.session.account_name, path->file, path->item);
  if (condition->empty()) {
    request.host.delete_item(path->file, path->item);
  } else if (!request.host.change_item_if(path->file, path->item, nullptr, *condition)) {
    return refuse_precondition(reply);
  }
  reply.clear();
  return 200;
}

}  // namespace ombrix
