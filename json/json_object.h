// parse_json_object: reads a JSON text whose top level is an object into a table of its
// top-level members; nested objects and arrays are kept as spans of the text. Thread-safe.
#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace ombrix {

// One top-level member. Only the field of its kind is meaningful: `text` for strings (kind 10),
// `number` for integers (8), reals (9, the bits of the double) and nested values (1 and 3: start
// offset in the low 32 bits, end offset in the high 32 bits).
struct json_value {
  std::uint32_t kind = 0;
  std::string text;
  std::int64_t number = 0;

  double real() const;
  std::uint32_t span_begin() const { return static_cast<std::uint32_t>(number & 0xFFFFFFFF); }
  std::uint32_t span_end() const {
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(number) >> 32);
  }
};

// Members ordered by name bytes; the first of two equal names wins.
using json_members = std::map<std::string, json_value>;

// Returns 2 (end of object) on success; otherwise the kind that ended the parse: 0 premature end,
// 12 error or mismatched bracket, 4 a "]" at the top level, or the first token's kind when the
// text does not start with "{". Members read before a failure stay in `members`.
std::uint32_t parse_json_object(const char* text, std::uint32_t length, json_members& members);

}  // namespace ombrix
