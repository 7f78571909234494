// The item actions: read (GET file), update (PUT file), create (POST create), delete
// (DELETE file). Every check runs before the first host call, so a refused request changes
// nothing on the host.
//
// Conditional requests (conditional_request.h): PUT and DELETE with If-Match or If-None-Match
// are checked and carried out in one host step (change_item_if) under the item lock, and
// answered 412 when the condition does not hold; GET evaluates If-Match. Such requests, and
// those with the query parameter etag, get the item's ETag line. The query parameter id names
// the item when given (item_segments).
//
// The opt-in POST touch (no plain client sends it) sets an item's modification time to its
// query parameter mtime, nanoseconds since 1970-01-01 UTC as a decimal integer, and answers like
// PUT; 400 for a missing or malformed mtime and for a host that keeps no times.

#include <algorithm>
#include <cstdint>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "base/text_helpers.h"
#include "host/item_tag.h"
#include "rest/actions.h"
#include "rest/conditional_request.h"
#include "rest/item_path.h"
#include "rest/kept_reply_sink.h"
#include "json/item_text.h"
#include "json/json_object.h"
#include "json/json_tokenizer.h"
#include "json/json_writer.h"
#include "json/reply_texts.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

constexpr int bad_request = 400;

// Writes the diagnostic line (when enabled) and answers 400 with the empty code.
int refuse_body(const settings& config, std::string& reply, const std::string& diagnostic,
                std::string_view message) {
  debug_line(config, 1, diagnostic);
  return make_error_reply(reply, bad_request, "", message);
}

// From this many bytes of JSON array on, PUT file hands the text to the host in pieces: with the
// body, a whole 16-bit text would hold the item three times over.
constexpr std::uint32_t piecewise_body_bytes = 1024 * 1024;

// The item text of a JSON array of item data, handed to the host in pieces of 32 Ki to 64 Ki
// units. The array's bytes must outlive the object.
class json_array_source final : public item_text_source {
 public:
  json_array_source(const char* array, std::uint32_t bytes) : array_(array), bytes_(bytes) {}

  // json_to_item's checks (false: malformed; throws as it does); they give the length.
  bool check() {
    json_tokenizer tokenizer;
    tokenizer.init(array_, bytes_);
    return measure_json_item(tokenizer, units_);
  }
  std::size_t units() const override { return units_; }
  void produce(const std::function<void(std::u16string_view piece)>& put) override {
    json_tokenizer tokenizer;
    tokenizer.init(array_, bytes_);
    json_item_pieces(tokenizer, 32 * 1024, put);
  }

 private:
  const char* const array_;
  const std::uint32_t bytes_;
  std::size_t units_ = 0;
};

// Update and create share one handler; `create` adds the dir option check and the create calls.
int store_item(const action_request& request, std::string& reply, bool create) {
  std::optional<item_path> path = checked_item_path(
      path_action::update_create, item_segments(request.rest, request.env.value("QS_ID")),
      request.session, request.config, reply);
  if (!path) return path_refusal_status;
  const std::string& action = request.action_name;

  if (create && equals_ignore_case(request.env.value("QS_DIR"), "true")) {
    return refuse_body(request.config, reply,
                       "invalid option 'dir=true' for '" + action + "': " + join(request.rest, "/"),
                       "Creating new directories is not supported.");
  }

  const std::string& body = request.body;
  json_members members;
  // A body beyond the 32-bit offsets of the parser cannot be a valid payload.
  if (body.size() > std::numeric_limits<std::uint32_t>::max() ||
      parse_json_object(body.data(), static_cast<std::uint32_t>(body.size()), members) !=
          json_kind::end_object) {
    return refuse_body(request.config, reply, "invalid JSON payload for '" + action,
                       "Malformed JSON payload.");
  }
  auto data = members.find("data");
  if (data == members.end()) {
    return refuse_body(request.config, reply, "no 'data' property found for '" + action + "'",
                       "'data' property missing from JSON payload.");
  }
  if (data->second.kind != json_kind::begin_array) {
    return refuse_body(request.config, reply,
                       "'data' property must be a JSON array for '" + action + "'",
                       "'data' property must be a JSON array.");
  }
  const char* const array = body.data() + data->second.span_begin();
  const std::uint32_t array_bytes = data->second.span_end() - data->second.span_begin();
  const auto malformed_array = [&] {
    return refuse_body(request.config, reply, "invalid JSON array format for '" + action + "'",
                       "Malformed JSON array in 'data' property.");
  };
  const bool tagged = wants_item_tag(request.env);
  const std::optional<item_condition> condition = request_condition(request.env);
  // Without a tag or condition, which need the whole text.
  if (!create && !tagged && condition && condition->empty() &&
      array_bytes >= piecewise_body_bytes) {
    // A large text goes to the host in pieces: checked and measured first, so that a refused
    // body still changes nothing, then converted again as the host takes it.
    json_array_source source(array, array_bytes);
    if (!source.check()) return malformed_array();
    const auto held = request.locks.lock(request.session.account_name, path->file, path->item);
    request.host.write_item_pieces(path->file, path->item, source);
    reply.clear();
    return 200;
  }
  json_tokenizer tokenizer;
  tokenizer.init(array, array_bytes);
  text content;
  if (!json_to_item(tokenizer, content)) return malformed_array();

  if (!condition)
    return refuse_body(request.config, reply,
                       "invalid If-Match or If-None-Match header for '" + action + "'",
                       "Malformed If-Match or If-None-Match header.");

  const auto held = request.locks.lock(request.session.account_name, path->file, path->item);
  if (!create && !condition->empty()) {
    if (!request.host.change_item_if(path->file, path->item, &content, *condition)) {
      return refuse_precondition(reply);
    }
  } else if (!create) {
    request.host.write_item(path->file, path->item, content, unused_item_option,
                            unused_item_option, unused_item_option, unused_item_option);
  } else if (request.config.host_version == 71) {
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

// A decimal integer of nanoseconds, optionally negative; nothing for any other text.
std::optional<std::int64_t> nanoseconds_value(std::string_view value) {
  const bool negative = !value.empty() && value.front() == '-';
  if (negative) value.remove_prefix(1);
  if (value.empty()) return std::nullopt;
  std::int64_t number = 0;
  for (const char c : value) {
    if (c < '0' || c > '9') return std::nullopt;
    if (number > (std::numeric_limits<std::int64_t>::max() - (c - '0')) / 10) return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return negative ? -number : number;
}

// The reply of GET file, written straight into the reply text as the item's pieces arrive: the
// text is never held whole, and the reply is the only copy of the JSON. A large item's reply is
// offered to the host to keep, and a kept one is taken as it is.
class get_reply_sink final : public kept_reply_sink {
 public:
  get_reply_sink(std::string id, std::string& reply, std::shared_ptr<const std::string>* kept_out)
      : kept_reply_sink(reply, kept_out), id_(std::move(id)) {}

  void begin(std::size_t units) override {
    forget_kept();
    reply_.clear();
    // Text of ASCII units takes about a byte per unit; the marks' quotes and brackets a little
    // more. Reserved, the reply is never copied as it grows, and the untouched part costs no
    // memory.
    reply_.reserve(json_content_type.size() + id_.size() + units + units / 4 + 64);
    reply_.append(json_content_type);
    // The writer holds the whole JSON of a small item, and about a piece of a large one.
    writer_.expect(std::min<std::size_t>(units + units / 4 + 64, 256 * 1024));
    writer_.begin_object();
    writer_.key("id");
    writer_.string(id_);
    writer_.key("type");
    writer_.string("array");
    writer_.key("data");
    pieces_.emplace(writer_, &reply_);
  }
  void piece(std::u16string_view units) override { pieces_->add(units); }
  void end() override {
    pieces_->finish();
    writer_.end_object();
    writer_.move_to(reply_);
    reply_.append("\r\n");
    pieces_.reset();
    writer_.release();
  }

 private:
  const std::string id_;
  json_writer writer_;
  std::optional<item_json_pieces> pieces_;
};

}  // namespace

int read_item_action(const action_request& request, std::string& reply) {
  std::optional<item_path> path =
      checked_item_path(path_action::read, item_segments(request.rest, request.env.value("QS_ID")),
                        request.session, request.config, reply);
  if (!path) return path_refusal_status;
  const bool tagged = wants_item_tag(request.env);
  std::optional<item_condition> condition;
  if (tagged) {
    condition = request_condition(request.env);
    if (!condition) {
      return refuse_body(request.config, reply,
                         "invalid If-Match or If-None-Match header for 'file'",
                         "Malformed If-Match or If-None-Match header.");
    }
    // A read evaluates If-Match only.
    condition->must_be_absent = false;
    condition->none_match.clear();
  }

  if (!tagged) {
    get_reply_sink sink(to_utf8(path->item), reply, request.kept_reply);
    request.host.read_item_pieces(path->file, path->item, sink);
    return 200;
  }
  // A tagged read needs the whole text for its tag and condition.
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
  std::optional<item_path> path = checked_item_path(
      path_action::remove, item_segments(request.rest, request.env.value("QS_ID")), request.session,
      request.config, reply);
  if (!path) return path_refusal_status;
  const std::optional<item_condition> condition = request_condition(request.env);
  if (!condition) {
    return refuse_body(request.config, reply, "invalid If-Match or If-None-Match header for 'file'",
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

int touch_item_action(const action_request& request, std::string& reply) {
  std::optional<item_path> path =
      checked_item_path(path_action::stat, item_segments(request.rest, request.env.value("QS_ID")),
                        request.session, request.config, reply);
  if (!path) return path_refusal_status;
  const std::optional<std::int64_t> nanoseconds =
      nanoseconds_value(request.env.value("QS_MTIME"));
  if (!nanoseconds) {
    return refuse_body(request.config, reply, "invalid or missing 'mtime' for 'touch'",
                       "Query parameter 'mtime' must be nanoseconds since 1970 as an integer.");
  }
  const auto held = request.locks.lock(request.session.account_name, path->file, path->item);
  if (!request.host.set_item_time(path->file, path->item, *nanoseconds)) {
    return refuse_body(request.config, reply, "no modification times for 'touch'",
                       "The host keeps no modification times.");
  }
  reply.clear();
  return 200;
}

}  // namespace ombrix
