#include "host/velquor_base.h"

#include <optional>

#include "host/host_errors.h"

namespace ombrix {
namespace {

// The content of `item`, or none when the host says it does not exist (202).
std::optional<text> existing_content(velquor_base& host, const text& file, const text& item) {
  try {
    return host.read_item(file, item, unused_item_option, unused_item_option, unused_item_option,
                          unused_item_flag);
  } catch (const _com_error& error) {
    if (host_error_number(error.Error()) != static_cast<std::uint32_t>(host_error::item_not_found)) {
      throw;
    }
    return std::nullopt;
  }
}

void write_whole(velquor_base& host, const text& file, const text& item, const text& content) {
  host.write_item(file, item, content, unused_item_option, unused_item_option, unused_item_option,
                  unused_item_option);
}

// Stores `content` under `to` the way a host without whole-item operations is asked to; sets
// `touched` once `to` may differ from what it was, so that a failure can take it back.
void store_copy(velquor_base& host, const text& file, const text& to, const text& content,
                bool replace, create_style style, bool& touched) {
  if (replace) {
    touched = true;
    write_whole(host, file, to, content);
  } else if (style == create_style::empty_then_write) {
    host.create_item(file, to, text{});
    touched = true;
    write_whole(host, file, to, content);
  } else {
    host.create_item(file, to, content);
    touched = true;
  }
}

// Gives `to` back what it held before (`previous`), or deletes it when it did not exist. Its
// own failures are dropped: the caller reports the failure that made the undo necessary.
void take_back(velquor_base& host, const text& file, const text& to,
               const std::optional<text>& previous) noexcept {
  try {
    if (previous) {
      write_whole(host, file, to, *previous);
    } else {
      host.delete_item(file, to);
    }
  } catch (...) {
  }
}

}  // namespace

// A step refused by the host (an MD pointer that cannot be deleted, a failed write) takes back
// the steps before it, so that a refused move or copy leaves both ids as they were.
void velquor_base::move_item(const text& file, const text& from, const text& to, bool replace,
                             create_style style) {
  const text content = read_item(file, from, unused_item_option, unused_item_option,
                                 unused_item_option, unused_item_flag);
  if (from == to) return;
  const std::optional<text> previous =
      replace ? existing_content(*this, file, to) : std::nullopt;
  bool touched = false;
  try {
    store_copy(*this, file, to, content, replace, style, touched);
    delete_item(file, from);
  } catch (...) {
    if (touched) take_back(*this, file, to, previous);
    throw;
  }
}

void velquor_base::copy_item(const text& file, const text& from, const text& to, bool overwrite,
                             create_style style) {
  const text content = read_item(file, from, unused_item_option, unused_item_option,
                                 unused_item_option, unused_item_flag);
  if (from == to) {
    if (!overwrite) create_item(file, to, content);  // the host's own refusal of an existing id
    return;
  }
  bool touched = false;
  try {
    store_copy(*this, file, to, content, overwrite, style, touched);
  } catch (...) {
    // Only the empty item of a create-then-write can be left behind; a failed overwrite left
    // the old content.
    if (touched && !overwrite) take_back(*this, file, to, std::nullopt);
    throw;
  }
}

bool velquor_base::change_item_if(const text& file, const text& item, const text* content,
                                  const item_condition& condition) {
  std::optional<text> current;
  try {
    current = read_item(file, item, unused_item_option, unused_item_option, unused_item_option,
                        unused_item_flag);
  } catch (const _com_error& error) {
    // Only a missing item is a state the condition speaks about; anything else is a failure.
    if (host_error_number(error.Error()) != static_cast<std::uint32_t>(host_error::item_not_found)) {
      throw;
    }
  }
  if (!condition.holds(current ? &*current : nullptr)) return false;
  if (content != nullptr) {
    write_item(file, item, *content, unused_item_option, unused_item_option, unused_item_option,
               unused_item_option);
  } else {
    delete_item(file, item);
  }
  return true;
}

}  // namespace ombrix
