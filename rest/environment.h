// The environment table: the request environment text as name -> value, the first occurrence
// of a name winning. Also split and join on "/".
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace ombrix {

using environment = std::map<std::string, std::string, std::less<>>;

// Builds the table from "NAME=value\r\n" lines; names are upper-cased, lines without "=" dropped.
environment parse_environment(std::string_view text);

// The value of `name`, or the empty text when absent.
std::string_view environment_value(const environment& table, std::string_view name);

// Splits at every `delimiter`; empty pieces are kept except after a delimiter at the very end.
// The empty text gives one empty piece.
std::vector<std::string> split(std::string_view text, std::string_view delimiter);

// Joins the pieces with `delimiter`.
std::string join(const std::vector<std::string>& pieces, std::string_view delimiter);

}  // namespace ombrix
