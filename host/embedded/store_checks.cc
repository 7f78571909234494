#include "host/embedded/store_checks.h"

#include "host/host_errors.h"
#include "host/embedded/item_codec.h"

namespace ombrix {

void check_file_name(const text& file) {
  if (!is_valid_host_name(file)) {
    throw_host_error(host_error::invalid_name,
                     describe({u"Invalid file name '", display_name(file),
                               u"' (empty, or holding CR, LF or a mark)."}));
  }
}

void check_item_id(const text& file, const text& id) {
  if (!is_valid_host_name(id)) {
    throw_host_error(host_error::invalid_name,
                     describe({u"Invalid item id '", display_name(id), u"' in file '",
                               display_name(file), u"' (empty, or holding CR, LF or a mark)."}));
  }
}

void check_new_file_name(const text& name, std::u16string_view what) {
  if (!is_valid_new_file_name(name)) {
    throw_host_error(
        host_error::invalid_name,
        describe({u"Invalid ", what, u" name '", display_name(name),
                  u"' (it must be 1 to 255 characters without control characters, ',', '/', "
                  u"'*' or marks, and not start with \"DICT \")."}));
  }
}

void item_not_found(const text& file, const text& id) {
  throw_host_error(host_error::item_not_found, describe({u"Item '", display_name(id),
                                                         u"' not found in file '",
                                                         display_name(file), u"'."}));
}

void section_is_no_item(const text& file, const text& id) {
  throw_host_error(host_error::item_not_found,
                   describe({u"Item '", display_name(id), u"' not found in file '",
                             display_name(file), u"': '", display_name(id),
                             u"' is a data section of the file, not an item."}));
}

void item_exists(const text& file, const text& id) {
  throw_host_error(host_error::item_exists,
                   describe({u"Item '", display_name(id), u"' already exists in file '",
                             display_name(file), u"'."}));
}

}  // namespace ombrix
