// A whole account as plain values: its master dictionary's name, its files with their data
// sections and every item of every section. What copy-account reads from one store and writes
// into another. A value type; no thread-safety concerns.
#pragma once

#include <utility>
#include <vector>

#include "host/text.h"

namespace ombrix {

struct account_image {
  struct file {
    text name;                  // F (the master dictionary too)
    std::vector<text> sections;  // D of each data section F,D beyond the default one
  };
  struct section {
    text name;  // as operations name it: "DICT F", "F" or "F,D"
    std::vector<std::pair<text, text>> items;  // id, content, in id order
  };
  text md_name;
  std::vector<file> files;
  std::vector<section> sections;
};

}  // namespace ombrix
