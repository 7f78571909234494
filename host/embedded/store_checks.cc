#include "host/embedded/store_checks.h"

#include <algorithm>

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

void check_new_file_and_sections(const text& file, const std::vector<text>& sections) {
  check_new_file_name(file, u"file");
  for (std::size_t i = 0; i < sections.size(); ++i) {
    check_new_file_name(sections[i], u"section");
    if (sections[i] == file) {
      throw_host_error(host_error::invalid_name,
                       describe({u"Section '", display_name(file), u"' is the default section of "
                                                                    u"file '",
                                 display_name(file), u"'; name only further sections."}));
    }
    const auto before = sections.begin() + static_cast<std::ptrdiff_t>(i);
    if (std::find(sections.begin(), before, sections[i]) != before) {
      throw_host_error(host_error::invalid_name,
                       describe({u"Section '", display_name(sections[i]), u"' is named twice."}));
    }
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

void file_not_found(const text& account, const text& file) {
  throw_host_error(host_error::file_not_found,
                   describe({u"File '", display_name(file), u"' not found in account '", account,
                             u"'."}));
}

void section_not_writable(const text& file, const text& id) {
  throw_host_error(host_error::file_pointer,
                   describe({u"Item '", display_name(id), u"' cannot be written in file '",
                             display_name(file), u"': it names a data section of the file."}));
}

void not_removable(const text& file, const text& id, bool names_file) {
  if (names_file) {
    throw_host_error(host_error::file_pointer,
                     describe({u"Item '", display_name(id), u"' in file '", display_name(file),
                               u"' is the pointer of file '", display_name(id),
                               u"' and cannot be deleted."}));
  }
  throw_host_error(host_error::file_pointer,
                   describe({u"Item '", display_name(id), u"' in file '", display_name(file),
                             u"' names a data section of the file and cannot be deleted."}));
}

void file_name_taken(const text& md_name, const text& file) {
  throw_host_error(host_error::item_exists,
                   describe({u"Item '", display_name(file), u"' already exists in file '",
                             md_name, u"', so no file of that name can be created."}));
}

void section_name_taken(const text& dictionary, const text& section) {
  throw_host_error(host_error::item_exists,
                   describe({u"Item '", display_name(section), u"' already exists in file '",
                             display_name(dictionary),
                             u"', so no section of that name can be created."}));
}

void section_exists(const text& file, const text& section) {
  throw_host_error(host_error::item_exists,
                   describe({u"Section '", display_name(section), u"' of file '",
                             display_name(file), u"' already exists."}));
}

}  // namespace ombrix
