// Making files and data sections in an account database. Works inside the caller's write
// transaction on one connection; throws sqlite_failure and the host's _com_error (204) where a
// name is taken.
#pragma once

#include "host/embedded/section_catalog.h"
#include "host/embedded/sqlite_db.h"
#include "host/text.h"

namespace ombrix {

// Adds the file F: DICT F, the data section F and the MD pointer F ("F CR LF F CR LF DICT F").
// 204 when the MD has an item F. REQUIRES: F is a valid new file name and names no file yet.
void add_file(sqlite_connection& c, const account_names& names, const text& file);

// Adds the data section F,D. 204 when it exists or DICT F has an item D. REQUIRES: F names a
// file; D is a valid new file name other than F.
void add_section(sqlite_connection& c, const account_names& names, const text& file,
                 const text& section);

// The MD pointer of file F, in the layout add_file stores.
text file_pointer_text(const text& file);

}  // namespace ombrix
