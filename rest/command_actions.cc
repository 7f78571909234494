// The actions that run code on the host: cmd (POST cmd, a host command on an item through the
// subroutine FTFSCMD) and call (POST call, a named host subroutine with item-text arguments).

#include <algorithm>
#include <cstdint>
#include <limits>
#include <locale>
#include <optional>
#include <sstream>
#include <string>

#include "host/host_errors.h"
#include "rest/actions.h"
#include "rest/item_path.h"
#include "json/item_text.h"
#include "json/json_object.h"
#include "json/json_tokenizer.h"
#include "json/json_writer.h"
#include "json/reply_texts.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

constexpr int bad_request = 400;
constexpr std::u16string_view line_end = u"\r\n";

int refuse(const settings& config, std::string& reply, std::string_view code,
           std::string_view message, const std::string& diagnostic) {
  debug_line(config, 1, diagnostic);
  return make_error_reply(reply, bad_request, code, message);
}

// ASCII text (numbers) as 16-bit units.
text widen_ascii(const std::string& ascii) { return text(ascii.begin(), ascii.end()); }

// A real as a default-formatted stream writes it: general notation, 6 significant digits.
text real_form(double value) {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << value;
  return widen_ascii(out.str());
}

// Lines 3 and 4 of the command parameter text: the names and the values of the body's scalar
// members in table order, separated by value marks. A mark follows every written member that
// is followed by another member, so a skipped member at the end leaves a trailing mark.
void append_options(const json_members& members, text& names, text& values) {
  bool previous_written = false;
  for (const auto& [name, value] : members) {
    if (previous_written) {
      names += value_mark;
      values += value_mark;
    }
    previous_written = true;
    switch (value.kind) {
      case json_kind::string:
        names += from_utf8(name);
        values += from_utf8(value.text);
        break;
      case json_kind::integer:
        names += from_utf8(name);
        values += widen_ascii(std::to_string(value.number));
        break;
      case json_kind::real:
        names += from_utf8(name);
        values += real_form(value.real());
        break;
      case json_kind::true_value:
        names += from_utf8(name);
        values += u'1';
        break;
      case json_kind::false_value:
        names += from_utf8(name);
        values += u'0';
        break;
      case json_kind::null_value:
        names += from_utf8(name);
        break;
      default:  // objects and arrays are not options
        previous_written = false;
        break;
    }
  }
}

// The value of option `name` in lines 3 and 4 of the parameter text; empty when absent.
text option_value(const text& names, const text& values, std::u16string_view name) {
  std::size_t name_start = 0;
  std::size_t value_start = 0;
  for (;;) {
    const std::size_t name_end = std::min(names.find(value_mark, name_start), names.size());
    const std::size_t value_end = std::min(values.find(value_mark, value_start), values.size());
    if (std::u16string_view(names).substr(name_start, name_end - name_start) == name) {
      return values.substr(value_start, value_end - value_start);
    }
    if (name_end == names.size() || value_end == values.size()) return {};
    name_start = name_end + 1;
    value_start = value_end + 1;
  }
}

// The body as parsed members; a body beyond the parser's 32-bit offsets parses as nothing.
std::uint32_t parse_body(const std::string& body, json_members& members) {
  if (body.size() > std::numeric_limits<std::uint32_t>::max()) return json_kind::error;
  return parse_json_object(body.data(), static_cast<std::uint32_t>(body.size()), members);
}

}  // namespace

int command_action(const action_request& request, std::string& reply) {
  if (request.rest.size() < 2) {
    return refuse(request.config, reply, "", "Command is missing from URL path.",
                  "command missing for 'cmd' action");
  }
  const std::vector<std::string> path_segments(request.rest.begin() + 1, request.rest.end());
  // Unlike the item actions, cmd does not check the root segment.
  const std::optional<item_path> path = resolve_item_path(path_segments, request.session);
  if (!path) {
    return refuse(request.config, reply, host_error_text(host_error::invalid_name),
                  "File name or item ID missing from URL path.",
                  "invalid path for cmd: " + join(request.rest, "/"));
  }

  // Lines 1 and 2 in the form the host reads them (code-page units through COM). A name the
  // host cannot receive is refused rather than sent with a substitute, which would address
  // another item.
  const std::optional<text> file = request.host.command_parameter_name(path->file);
  const std::optional<text> item = file ? request.host.command_parameter_name(path->item)
                                        : std::nullopt;
  if (!file || !item) {
    return refuse(request.config, reply, "",
                  "File name or item ID cannot be represented in the host's code page.",
                  "cmd path not representable in the host's code page: " + join(request.rest, "/"));
  }

  // The parse result is not looked at: members read before a syntax error still count.
  json_members members;
  parse_body(request.body, members);
  text names;
  text values;
  append_options(members, names, values);

  text parameters = *file;
  parameters += line_end;
  parameters += *item;
  parameters += line_end;
  parameters += names;
  parameters += line_end;
  parameters += values;

  // COPY changes the item its option `to` names: both ids are held, as a rename holds them, so
  // that no write, copy or rename of either by another request lands in the middle of it.
  std::optional<item_lock_table::guard> held;
  if (request.rest.front() == "COPY") {
    held.emplace(request.locks.lock_pair(request.session.account_name, path->file, path->item,
                                         option_value(names, values, u"to")));
  }
  const text result =
      request.host.call_subroutine(u"FTFSCMD", from_utf8(request.rest.front()), parameters);

  // The answer is a message line, CR LF, then an item text.
  const std::size_t message_end = result.find(line_end);
  json_writer writer;
  writer.begin_object();
  writer.key("message");
  writer.string(to_utf8(std::u16string_view(result).substr(0, message_end)));
  writer.key("output");
  if (message_end == text::npos) {
    writer.begin_array();
    writer.end_array();
  } else {
    item_to_json(writer, result, message_end + line_end.size());
  }
  writer.end_object();
  reply = json_reply(writer.view());
  return 200;
}

int call_action(const action_request& request, std::string& reply) {
  const std::string& action = request.action_name;
  if (request.rest.empty()) {
    return refuse(request.config, reply, "", "Function is missing from URL path.",
                  "function missing for 'call' action");
  }

  const std::string& body = request.body;
  json_members members;
  if (parse_body(body, members) != json_kind::end_object) {
    return refuse(request.config, reply, "", "Malformed JSON payload.",
                  "invalid JSON payload for '" + action);
  }
  text args;
  if (auto found = members.find("args"); found != members.end()) {
    const json_value& value = found->second;
    if (value.kind != json_kind::begin_array) {
      return refuse(request.config, reply, "", "'args' property must be a JSON array.",
                    "'args' property must be a JSON array for '" + action + "'");
    }
    json_tokenizer tokenizer;
    tokenizer.init(body.data() + value.span_begin(), value.span_end() - value.span_begin());
    if (!json_to_item(tokenizer, args)) {
      return refuse(request.config, reply, "", "Malformed JSON array in 'args' property.",
                    "invalid JSON array format for '" + action + "'");
    }
  }

  const text result = request.host.call_subroutine(from_utf8(request.rest.front()), text{}, args);

  json_writer writer;
  writer.begin_object();
  writer.key("result");
  const bool has_marks = result.find(line_end) != text::npos ||
                         result.find(value_mark) != text::npos ||
                         result.find(subvalue_mark) != text::npos;
  if (has_marks) {
    item_to_json(writer, result, 0);
  } else {
    writer.string(to_utf8(result));
  }
  writer.end_object();
  reply = json_reply(writer.view());
  return 200;
}

}  // namespace ombrix
