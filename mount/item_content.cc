#include "mount/item_content.h"

#include <cerrno>
#include <cstdint>
#include <stdexcept>

#include "host/item_files.h"
#include "host/text.h"
#include "json/item_text.h"

#include "json/json_tokenizer.h"
#include "json/json_writer.h"

namespace ombrix::mount {

std::optional<std::string> data_to_content(std::string_view data) {
  json_tokenizer tokens;
  tokens.init(data.data(), static_cast<std::uint32_t>(data.size()));
  text item;
  try {
    if (!json_to_item(tokens, item)) return std::nullopt;
  } catch (const std::range_error&) {
    return std::nullopt;
  }
  return text_file_from_item(item);
}

int content_to_data(std::string_view content, std::string& data) {
  text item;
  try {
    item = item_from_text_file(content);
  } catch (const std::range_error&) {
    return EILSEQ;
  }
  if (text_file_from_item(item) != content) return EINVAL;
  json_writer writer;
  item_to_json(writer, item, 0);
  // The JSON form carries no trailing empty attribute, value or subvalue: an item ending in one
  // would read back without it.
  std::string written = writer.text();
  json_tokenizer tokens;
  tokens.init(written.data(), static_cast<std::uint32_t>(written.size()));
  text back;
  if (!json_to_item(tokens, back) || back != item) return EINVAL;
  data = std::move(written);
  return 0;
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
