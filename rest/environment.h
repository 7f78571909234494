// The environment table: the request environment text as name -> value, the first occurrence
// of a name winning. Also split and join on "/".
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ombrix {

// Holds its own copy of the text and the places of its lines in it: two allocations however
// many variables a request has. Lookups scan the lines in order, so the first occurrence of a
// name wins. Immutable once built; safe to read from several threads.
class environment {
 public:
  environment() = default;
  // From "NAME=value\r\n" lines; names are upper-cased (ASCII letters only), lines without
  // "=" dropped.
  explicit environment(std::string_view text);
  // The given names (upper-cased likewise) and values, in this order.
  environment(std::initializer_list<std::pair<std::string_view, std::string_view>> variables);

  // The value of the first line named `name` (compared exactly), or the empty text.
  std::string_view value(std::string_view name) const;
  // Every line kept, in order, duplicates included.
  std::vector<std::pair<std::string_view, std::string_view>> lines() const;

 private:
  struct line {
    std::size_t name_start, name_length, value_start, value_length;
  };
  std::string text_;  // names upper-cased in place
  std::vector<line> lines_;
};

// Splits at every `delimiter`; empty pieces are kept except after a delimiter at the very end.
// The empty text gives one empty piece.
std::vector<std::string> split(std::string_view text, std::string_view delimiter);

// Joins the pieces with `delimiter`.
std::string join(const std::vector<std::string>& pieces, std::string_view delimiter);

}  // namespace ombrix
