// Feeds arbitrary bytes to the tokenizer and to parse_json_object, the way request bodies reach
// them, and checks what every result must satisfy.
#include <cstdint>
#include <cstdlib>

#include "json/json_object.h"
#include "json/json_tokenizer.h"

namespace {

void check(bool condition) {
  if (!condition) std::abort();
}

void scan_all(const char* text, std::uint32_t length) {
  ombrix::json_tokenizer tokenizer;
  tokenizer.init(text, length);
  for (;;) {
    const std::uint32_t kind = tokenizer.next();
    check(kind <= ombrix::json_kind::error);
    check(tokenizer.position() <= length);
    (void)tokenizer.string_value();
    (void)tokenizer.integer_value();
    (void)tokenizer.real_value();
    if (kind == ombrix::json_kind::end || kind == ombrix::json_kind::error) return;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > UINT32_MAX) return 0;
  const char* text = reinterpret_cast<const char*>(data);
  const auto length = static_cast<std::uint32_t>(size);
  scan_all(text, length);

  ombrix::json_members members;
  const std::uint32_t result = ombrix::parse_json_object(text, length, members);
  check(result <= ombrix::json_kind::error);
  for (const auto& [name, value] : members) {
    (void)name;
    switch (value.kind) {
      case ombrix::json_kind::begin_object:
      case ombrix::json_kind::begin_array: {
        // A nested value's span lies inside the text and starts (after white space) with its
        // bracket; callers tokenize it a second time.
        check(value.span_begin() < value.span_end() && value.span_end() <= length);
        scan_all(text + value.span_begin(), value.span_end() - value.span_begin());
        break;
      }
      case ombrix::json_kind::true_value:
      case ombrix::json_kind::false_value:
      case ombrix::json_kind::null_value:
      case ombrix::json_kind::integer:
      case ombrix::json_kind::real:
      case ombrix::json_kind::string:
        break;
      default:
        std::abort();
    }
  }
  return 0;
}
