// How the embedded host stores names and item texts, and the rules names must follow. Pure
// functions; thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "host/text.h"

namespace ombrix {

// File names and item ids are stored as UTF-8 bytes, unit by unit the way to_utf8 writes them
// (a valid surrogate pair as one 4-byte sequence, any other unit, lone surrogates included, as
// the 1 to 3 bytes of its own value). The encoding is one-to-one, and comparing stored names
// byte by byte orders them by their UTF-8 bytes.
std::string encode_name(std::u16string_view name);

// The inverse of encode_name. Bytes that encode_name cannot have produced (a damaged file)
// become U+FFFD rather than failing.
text decode_name(std::string_view bytes);
// decode_name appending to `out`.
void append_decoded_name(text& out, std::string_view bytes);

// Item content as stored: every 16-bit unit as two bytes, low byte first. Lossless for any unit
// sequence (NUL, bare CR or LF, lone surrogates, marks).
std::string encode_content(std::u16string_view content);

// The inverse of encode_content; a stray odd last byte is ignored.
text decode_content(std::string_view bytes);

// The bytes encode_content would make: on little-endian machines a view of `content` itself
// (valid while it lives), elsewhere a view of `scratch`, which receives the encoding.
std::string_view content_bytes(std::u16string_view content, std::string& scratch);

// Appends the decimal digits of `value` (a minus sign first when negative), as listings and stat
// write numbers.
void append_decimal(text& out, std::int64_t value);

// Appends one listing entry, `name` (stored form) SM attributes SM size, after a VM when `out`
// already holds entries.
void append_listing_entry(text& out, std::string_view name_key, int attributes, std::int64_t size);

// The text stat answers: attributes CR LF size.
text stat_text(int attributes, std::int64_t size);

// How many entries a listing with `max_count` may hold (no bound for 0 or less), and whether
// an entry of `attributes` is listed when the caller asked for `attribute` (0 or less: all).
std::size_t listing_limit(std::int32_t max_count);
constexpr bool listing_wants(std::int32_t attribute, int attributes) {
  return attribute <= 0 || (attributes & attribute) == attribute;
}

// A listing's text: the file name, CR LF, then the entries.
text listing_text(const text& file, const text& entries);

// The size listings and stat report: the length of to_utf8(content) in bytes, so CR LF counts
// as two bytes and a surrogate pair as four.
std::int64_t utf8_size(std::u16string_view content);

// The MultiValue marks U+F8FB (text mark) to U+F8FF (segment mark); the item text uses U+F8FD
// between values and U+F8FC between subvalues.
constexpr bool is_mark(char16_t unit) { return unit >= 0xF8FB && unit <= 0xF8FF; }

// True for a file name or item id the operations accept: not empty, and holding no CR, LF or
// mark. Anything else fails with host error 203.
bool is_valid_host_name(std::u16string_view name);

// The parts of a file name "DICT F", "F" or "F,D": the file F and the data section D (empty
// for the first two).
struct file_name_parts {
  text base;
  text section;
};
file_name_parts split_file_name(const text& file);

// True for the name of a new file or data section: a valid host name of at most 255 units
// without control characters, ',', '/', '*' or a leading "DICT ", since those would not reach
// the file again through the file names "DICT F" and "F,D" or through a URL path.
bool is_valid_new_file_name(std::u16string_view name);

}  // namespace ombrix
