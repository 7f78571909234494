#include "json/reply_texts.h"

#include "json/json_writer.h"

namespace ombrix {

std::string error_reply_json(int status, std::string_view message, std::string_view code) {
  json_writer writer;
  writer.begin_object();
  writer.key("status");
  writer.integer(static_cast<std::int64_t>(status));
  writer.key("message");
  writer.string(message);
  writer.key("code");
  writer.string(code);
  writer.end_object();
  return writer.text();
}

int make_error_reply(std::string& reply, int status, std::string_view code,
                     std::string_view message) {
  const std::string json = error_reply_json(status, message, code);
  std::string built;
  built.reserve(json_content_type.size() + json.size());
  built.append(json_content_type);
  built.append(json);
  reply = std::move(built);
  return status;
}

int make_error_reply(std::string& reply, int status, std::int64_t code, std::string_view message) {
  return make_error_reply(reply, status, std::to_string(code), message);
}

std::string json_reply(std::string_view json) {
  std::string reply;
  reply.reserve(json_content_type.size() + json.size() + 2);
  reply.append(json_content_type);
  reply.append(json);
  reply.append("\r\n");
  return reply;
}

}  // namespace ombrix
