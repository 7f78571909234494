// Creating an account database. Thread-safe; several processes may create at once and at most
// one of them succeeds for a name.
#pragma once

#include <string>

#include "host/text.h"

namespace ombrix {

// Creates the account `name` in `root` (creating the root, for its owner only, when missing)
// with the master dictionary `md_name`: the file md_name (dictionary and data section) and its
// own pointer. The database appears complete or not at all: it is built under a private name and
// linked into place. Throws the host's _com_error: 201 for an invalid account name, 203 for an
// invalid MD name, 204 when the account exists, 206 on a storage failure.
void create_account(const std::string& root, const text& name, const text& md_name);

}  // namespace ombrix
