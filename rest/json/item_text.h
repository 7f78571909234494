// Conversion between MultiValue item text (CR LF between attributes, value and subvalue marks)
// and nested JSON arrays. Pure functions; thread-safe.
#pragma once

#include <cstddef>
#include <string_view>

#include "host/text.h"
#include "rest/json/json_tokenizer.h"
#include "rest/json/json_writer.h"

namespace ombrix {

// Writes the item text from unit `start` onward as one JSON array.
void item_to_json(json_writer& writer, std::u16string_view item, std::size_t start);

// Reads one JSON array (at most three levels) from the tokenizer into `item`.
// Returns false, leaving `item` unchanged, when the array is malformed or holds anything but
// strings and arrays (numbers, true, false, null, objects).
// Throws std::range_error when a string is not valid UTF-8.
bool json_to_item(json_tokenizer& tokenizer, text& item);

}  // namespace ombrix
