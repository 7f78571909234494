#pragma once
// The names editors make and remove by themselves: vim's swap files (".NAME.swp", ".NAME.swo",
// any ".NAME.sw" and one letter) and its write probes (4913, 5036, ... in steps of 123), emacs's
// lock links (".#NAME") and auto-save files ("#NAME#"). Only such a name, created through the
// mount while no item of that name exists, is kept in the mount's memory (mount_fs says when it
// still reaches the account). Dotfiles, "NAME~" backups and every other name are real items.
// Pure function, thread safe.

#include <string_view>

namespace ombrix::mount {

bool is_scratch_name(std::string_view name);

// True for an emacs lock link name (".#NAME").
bool is_lock_link_name(std::string_view name);

}  // namespace ombrix::mount
