// Entity tags of items and the conditions a conditional change is made under. A tag is a
// function of the item text alone (no schema keeps it): two texts unit for unit equal have the
// same tag, and any change gives another one except with a chance of 2^-128. It guards against
// lost updates between cooperating clients; it is no security feature. Pure; thread-safe.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "host/text.h"

namespace ombrix {

// The tag of an item text: 32 lower-case hexadecimal digits (no quotes).
std::string item_tag(std::u16string_view content);

// What a conditional change expects of the item, as If-Match and If-None-Match state it.
// The default condition holds always.
struct item_condition {
  bool must_exist = false;              // If-Match: *
  bool must_be_absent = false;          // If-None-Match: *
  std::vector<std::string> match;       // If-Match tags: the current tag is one of them
  std::vector<std::string> none_match;  // If-None-Match tags: the current tag is none of them

  bool empty() const {
    return !must_exist && !must_be_absent && match.empty() && none_match.empty();
  }
  // Whether an item whose text is `current` (nullptr: no such item) meets the condition.
  bool holds(const text* current) const;
};

}  // namespace ombrix
