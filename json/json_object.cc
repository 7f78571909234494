#include "json/json_object.h"

#include <bit>
#include <vector>

#include "json/json_tokenizer.h"

namespace ombrix {

double json_value::real() const { return std::bit_cast<double>(number); }

namespace {

struct open_container {
  std::uint32_t kind;   // 1 or 3
  std::uint32_t start;  // offset before the bracket (and the white space in front of it)
};

inline std::int64_t span(std::uint32_t begin, std::uint32_t end) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(end) << 32) | begin);
}

}  // namespace

std::uint32_t parse_json_object(const char* text, std::uint32_t length, json_members& members) {
  json_tokenizer tokenizer;
  tokenizer.init(text, length);
  const std::uint32_t first = tokenizer.next();
  if (first != json_kind::begin_object) return first;

  std::string name;
  std::vector<open_container> stack;
  auto store = [&](json_value value) { members.try_emplace(name, std::move(value)); };

  while (true) {
    const std::uint32_t before = tokenizer.position();
    const std::uint32_t kind = tokenizer.next();
    switch (kind) {
      case json_kind::end:
      case json_kind::error:
        return kind;
      case json_kind::begin_object:
      case json_kind::begin_array:
        stack.push_back({kind, before});
        break;
      case json_kind::end_object:
      case json_kind::end_array: {
        if (stack.empty()) return kind;  // the top-level object closed (2), or a stray "]" (4)
        const open_container top = stack.back();
        if (top.kind + 1 != kind) return json_kind::error;
        stack.pop_back();
        if (stack.empty()) {
          json_value value;
          value.kind = top.kind;
          value.number = span(top.start, tokenizer.position());
          store(std::move(value));
        }
        break;
      }
      default:
        if (!stack.empty()) break;  // inside a nested value: kept as its span only
        if (kind == json_kind::name) {
          name.assign(tokenizer.string_bytes());
          break;
        }
        json_value value;
        value.kind = kind;
        if (kind == json_kind::integer) {
          value.number = tokenizer.integer_value();
        } else if (kind == json_kind::real) {
          value.number = std::bit_cast<std::int64_t>(tokenizer.real_value());
        } else if (kind == json_kind::string) {
          value.text.assign(tokenizer.string_bytes());
        }
        store(std::move(value));
        break;
    }
  }
}

}  // namespace ombrix
