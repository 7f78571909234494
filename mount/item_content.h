#pragma once
// Conversion between an item's JSON array (the REST "data" member) and the file content the
// mount shows: one line per attribute, each followed by LF, values separated by U+F8FD and
// subvalues by U+F8FC in UTF-8. Pure functions, thread safe; malformed JSON gives nullopt.

#include <optional>
#include <string>
#include <string_view>

namespace ombrix::mount {

// The file content for the JSON array `data` (as sent by GET file), or nullopt when it is not
// an array of strings nested at most three levels deep.
std::optional<std::string> data_to_content(std::string_view data);

// The JSON array for a file content; a final LF adds no attribute, an empty content is one
// empty attribute.
std::string content_to_data(std::string_view content);

// The "data" array of a GET file reply object, or nullopt when the reply has none.
std::optional<std::string> data_of_reply(std::string_view reply);

}  // namespace ombrix::mount
