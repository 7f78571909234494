#include "host/embedded/file_sections.h"

#include "host/embedded/account_schema.h"
#include "host/host_errors.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/item_rows.h"

namespace ombrix {
namespace {

bool has_item(sqlite_connection& c, const section_row& s, const std::string& id_key) {
  statement_use q = prepare(c, account_statement::find_item);
  q.bind(1, s.id);
  q.bind_blob(2, id_key);
  return q.step();
}

}  // namespace

text file_pointer_text(const text& file) { return u"F\r\n" + file + u"\r\nDICT " + file; }

void add_file(sqlite_connection& c, const account_names& names, const text& file) {
  const std::string file_key = encode_name(file);
  const section_row md = require_section(c, names, names.md_name, names.md_key);
  if (has_item(c, md, file_key)) {
    throw_host_error(host_error::item_exists,
                     describe({u"Item '", display_name(file), u"' already exists in file '",
                               names.md_name, u"', so no file of that name can be created."}));
  }
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
  if (names_data_section(c, dictionary, entry_key)) {
    throw_host_error(host_error::item_exists,
                     describe({u"Section '", display_name(section), u"' of file '",
                               display_name(file), u"' already exists."}));
  }
  if (has_item(c, dictionary, entry_key)) {
    throw_host_error(host_error::item_exists,
                     describe({u"Item '", display_name(section), u"' already exists in file '",
                               display_name(dictionary_name),
                               u"', so no section of that name can be created."}));
  }
  insert_section(c, encode_name(file + u"," + section), file_key, data_kind, entry_key);
}

}  // namespace ombrix
