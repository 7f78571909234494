#include "mount/item_content.h"

#include <cstdint>

#include "rest/json/json_tokenizer.h"
#include "rest/json/json_writer.h"

namespace ombrix::mount {
namespace {

constexpr std::string_view value_mark = "\xEF\xA3\xBD";     // U+F8FD
constexpr std::string_view subvalue_mark = "\xEF\xA3\xBC";  // U+F8FC

}  // namespace

std::optional<std::string> data_to_content(std::string_view data) {
  json_tokenizer tokens;
  tokens.init(data.data(), static_cast<std::uint32_t>(data.size()));
  if (tokens.next() != json_kind::begin_array) return std::nullopt;
  // Separator before the next element at each depth: LF, value mark, subvalue mark.
  const std::string_view separators[] = {"", "\n", value_mark, subvalue_mark};
  std::string content;
  int depth = 1;
  bool first[4] = {true, true, true, true};
  bool any_attribute = false;
  for (;;) {
    const std::uint32_t kind = tokens.next();
    if (kind == json_kind::begin_array) {
      if (depth == 3) return std::nullopt;
      if (!first[depth]) content += separators[depth];
      first[depth] = false;
      if (depth == 1) any_attribute = true;
      ++depth;
      first[depth] = true;
    } else if (kind == json_kind::end_array) {
      --depth;
      if (depth == 0) break;
    } else if (kind == json_kind::string) {
      if (!first[depth]) content += separators[depth];
      first[depth] = false;
      if (depth == 1) any_attribute = true;
      content += tokens.string_value();
    } else {
      return std::nullopt;
    }
  }
  if (any_attribute) content += '\n';
  return content;
}

namespace {

// Writes one attribute: a string, or an array of values, each a string or array of subvalues.
void write_attribute(json_writer& writer, std::string_view attribute) {
  if (attribute.find(value_mark) == std::string_view::npos &&
      attribute.find(subvalue_mark) == std::string_view::npos) {
    writer.string(attribute);
    return;
  }
  writer.begin_array();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = attribute.find(value_mark, start);
    const std::string_view value =
        attribute.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
    if (value.find(subvalue_mark) == std::string_view::npos) {
      writer.string(value);
    } else {
      writer.begin_array();
      std::size_t sub_start = 0;
      for (;;) {
        const std::size_t sub_end = value.find(subvalue_mark, sub_start);
        writer.string(value.substr(sub_start, sub_end == std::string_view::npos
                                                  ? std::string_view::npos
                                                  : sub_end - sub_start));
        if (sub_end == std::string_view::npos) break;
        sub_start = sub_end + subvalue_mark.size();
      }
      writer.end_array();
    }
    if (end == std::string_view::npos) break;
    start = end + value_mark.size();
  }
  writer.end_array();
}

}  // namespace

std::string content_to_data(std::string_view content) {
  if (!content.empty() && content.back() == '\n') content.remove_suffix(1);
  json_writer writer;
  writer.begin_array();
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = content.find('\n', start);
    write_attribute(writer, content.substr(start, end == std::string_view::npos
                                                      ? std::string_view::npos
                                                      : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  writer.end_array();
  return writer.text();
}

std::optional<std::string> data_of_reply(std::string_view reply) {
  json_tokenizer tokens;
  tokens.init(reply.data(), static_cast<std::uint32_t>(reply.size()));
  if (tokens.next() != json_kind::begin_object) return std::nullopt;
  int depth = 1;
  for (;;) {
    const std::uint32_t kind = tokens.next();
    if (kind == json_kind::end || kind == json_kind::error) return std::nullopt;
    if (kind == json_kind::begin_object || kind == json_kind::begin_array) ++depth;
    if (kind == json_kind::end_object || kind == json_kind::end_array) {
      if (--depth == 0) return std::nullopt;
    }
    if (kind == json_kind::name && depth == 1 && tokens.string_value() == "data") {
      const std::uint32_t start = tokens.position();
      if (tokens.next() != json_kind::begin_array) return std::nullopt;
      int inner = 1;
      while (inner > 0) {
        const std::uint32_t k = tokens.next();
        if (k == json_kind::end || k == json_kind::error) return std::nullopt;
        if (k == json_kind::begin_array || k == json_kind::begin_object) ++inner;
        if (k == json_kind::end_array || k == json_kind::end_object) --inner;
      }
      std::string_view rest = reply.substr(start, tokens.position() - start);
      while (!rest.empty() && (rest.front() == ':' || rest.front() == ' ')) rest.remove_prefix(1);
      return std::string(rest);
    }
  }
}

}  // namespace ombrix::mount
