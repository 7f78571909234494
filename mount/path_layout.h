#pragma once
// Where a mounted path points in the account: the root, an entry of the MD (a file's directory
// or a plain MD item), an entry of a file's directory (a dictionary item or a data section) or
// an item of a data section; and the REST URL path for it. Pure functions, thread safe.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix::mount {

// The names of a mounted path ("/F/D/I" gives F, D, I; "/" gives none), or nullopt for a path
// with more than three names, an empty name or names "." and "..".
std::optional<std::vector<std::string>> split_mount_path(std::string_view path);

// The REST rest segments after the action name: the root name, then the names, each
// percent-encoded ("/" itself never occurs in a name).
std::string rest_path(std::string_view root, const std::vector<std::string>& names);

// The REST path of an item after the action name: the root, the directory ids, then the item
// id as the last segment, or as the query parameter id when it is no usable segment (an id the
// admin export escapes: ".", "..", one holding "/" or "\\" or control characters, ...).
std::string item_rest_path(std::string_view root, const std::vector<std::string>& ids);

// `path` with the query parameter `parameter` ("name=value") added.
std::string with_query(std::string path, std::string_view parameter);

// The item ids of mount names (the names listings show are the admin export's file names of the
// ids), or nullopt when a name is a malformed escape.
std::optional<std::vector<std::string>> ids_of_names(const std::vector<std::string>& names);

// A name percent-encoded for a URL path segment (unreserved characters kept).
std::string encode_segment(std::string_view name);

}  // namespace ombrix::mount
