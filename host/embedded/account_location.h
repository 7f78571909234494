// Where the embedded host keeps accounts: the data root, the account names it accepts and the
// server text that names an account. The mains read OMBRIX_DATA and OMBRIX_ACCOUNT and pass
// their values here. Thread-safe.
#pragma once

#include <string>
#include <system_error>
#include <string_view>

#include "host/text.h"

namespace ombrix {

// The data root: `configured` (the value of OMBRIX_DATA) when it is set and not empty; else
// the user's data folder "ombrix" (platform/user_data.h: $XDG_DATA_HOME/ombrix or
// $HOME/.local/share/ombrix on POSIX, %LOCALAPPDATA%\ombrix on Windows). Empty when there is
// none of these. `configured` may be null.
std::string data_root_from(const char* configured);

// True for 1 to 64 characters of A-Z a-z 0-9 . _ - that do not start with '.'. Only such a name
// ever becomes part of a path.
bool is_valid_account_name(std::u16string_view name);

// The default account: `configured` (the value of OMBRIX_ACCOUNT) when it is set and not
// empty, else MAIN. Not validated here. `configured` may be null.
text default_account_from(const char* configured);

// What a server text "[server*]account*client" names.
struct server_target {
  text account;  // `default_account` when the text names none
  text client;
};

// client = the text after the last '*'; target = the text before it, minus one trailing '*';
// account = the part of the target after its last '*'. A text without '*' is all account.
server_target parse_server_text(std::u16string_view server, const text& default_account);

// Creates the data root (and its missing parents) when it does not exist; a data root made here
// is readable by its owner only (mode 0700 where the platform has modes). An existing one is
// left as it is. Returns false, with `error` set, when it cannot be created.
bool ensure_data_root(const std::string& root, std::error_code& error);

// True when `path` is a regular file itself, not a symbolic link to one and not a directory,
// device or socket. An account database is only ever opened when this holds, so a link cannot
// lead the host out of the data root.
bool is_plain_file(const std::string& path);

// The database file of an account: root/NAME.db. REQUIRES: is_valid_account_name(name).
std::string account_path(const std::string& root, std::u16string_view name);

}  // namespace ombrix
