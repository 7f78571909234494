#pragma once
// Conversion between an item's JSON array (the REST "data" member) and the file content the
// mount shows: the text-file form of host/item_files.h, the one ombrix-admin exports (one line
// per attribute, each ended by LF, marks in UTF-8, the escaped form for what plain lines cannot
// hold). A write is taken only when its bytes are exactly that form of some item, so a file
// always reads back byte for byte as written. Pure functions, thread safe.

#include <optional>
#include <string>
#include <string_view>

namespace ombrix::mount {

// The file content for the JSON array `data` (as sent by GET file), or nullopt when it is not
// an array of strings nested at most three levels deep.
std::optional<std::string> data_to_content(std::string_view data);

// The JSON array for a file content in `data`, and 0; or the errno of a content the item form
// cannot hold as it stands: EILSEQ for bytes that are not UTF-8, EINVAL for any other content
// that would read back differently (no final LF, CR LF line ends, a lone empty line, an empty
// last line or value, which the REST interface's JSON form does not carry).
int content_to_data(std::string_view content, std::string& data);

// The "data" array of a GET file reply object, or nullopt when the reply has none.
std::optional<std::string> data_of_reply(std::string_view reply);

}  // namespace ombrix::mount
