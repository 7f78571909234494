#include "host/embedded/file_sections.h"

#include "host/embedded/account_schema.h"
#include "host/embedded/store_checks.h"
#include "host/host_errors.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/item_rows.h"

namespace ombrix {
namespace {

bool has_item(sqlite_connection& c, const section_row& s, const std::string& id_key) {
  return find_item_row(c, s, id_key).has_value();
}

}  // namespace

text file_pointer_text(const text& file) { return u"F\r\n" + file + u"\r\nDICT " + file; }

void add_file(sqlite_connection& c, const account_names& names, const text& file) {
  const std::string file_key = encode_name(file);
  const section_row md = require_section(c, names, names.md_name, names.md_key);
  if (has_item(c, md, file_key)) file_name_taken(names.md_name, file);
  insert_section(c, encode_name(u"DICT " + file), file_key, dictionary_kind, std::string());
  insert_section(c, file_key, file_key, data_kind, file_key);
  const text pointer = file_pointer_text(file);
  put_item(c, md, names.md_name, file, file_key, encode_content(pointer), utf8_size(pointer),
           put_mode::create);
}

void add_section(sqlite_connection& c, const account_names& names, const text& file,
                 const text& section) {
  const std::string file_key = encode_name(file);
  const std::string entry_key = encode_name(section);
  const text dictionary_name = u"DICT " + file;
  const section_row dictionary =
      require_section(c, names, dictionary_name, encode_name(dictionary_name));
  if (names_data_section(c, dictionary, entry_key)) section_exists(file, section);
  if (has_item(c, dictionary, entry_key)) section_name_taken(dictionary_name, section);
  insert_section(c, encode_name(file + u"," + section), file_key, data_kind, entry_key);
}

}  // namespace ombrix
