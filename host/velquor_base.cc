#include "host/velquor_base.h"

namespace ombrix {
namespace {

// Stores `content` under `to` the way a host without whole-item operations is asked to.
void put_copy(velquor_base& host, const text& file, const text& to, const text& content,
              bool replace, create_style style) {
  if (replace) {
    host.write_item(file, to, content, unused_item_option, unused_item_option, unused_item_option,
                    unused_item_option);
  } else if (style == create_style::empty_then_write) {
    host.create_item(file, to, text{});
    host.write_item(file, to, content, unused_item_option, unused_item_option, unused_item_option,
                    unused_item_option);
  } else {
    host.create_item(file, to, content);
  }
}

}  // namespace

void velquor_base::move_item(const text& file, const text& from, const text& to, bool replace,
                             create_style style) {
  const text content = read_item(file, from, unused_item_option, unused_item_option,
                                 unused_item_option, unused_item_flag);
  if (from == to) return;
  put_copy(*this, file, to, content, replace, style);
  delete_item(file, from);
}

void velquor_base::copy_item(const text& file, const text& from, const text& to, bool overwrite,
                             create_style style) {
  const text content = read_item(file, from, unused_item_option, unused_item_option,
                                 unused_item_option, unused_item_flag);
  if (from == to) {
    if (!overwrite) create_item(file, to, content);  // the host's own refusal of an existing id
    return;
  }
  put_copy(*this, file, to, content, overwrite, style);
}

}  // namespace ombrix
