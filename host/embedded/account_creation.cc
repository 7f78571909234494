#include "host/embedded/account_creation.h"

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "host/embedded/account_location.h"
#include "host/embedded/account_schema.h"
#include "host/embedded/file_sections.h"
#include "host/host_errors.h"
#include "host/embedded/item_codec.h"
#include "host/embedded/item_rows.h"
#include "host/embedded/section_catalog.h"
#include "host/embedded/store_checks.h"

namespace ombrix {
namespace {

// A name beside `path` that no other thread or process of this host uses at the same time: the
// thread, a random number and the time keep two creations apart without shared state.
std::string private_name(const std::string& path) {
  std::string name = path;
  name += ".new-";
  name += std::to_string(std::hash<std::thread::id>{}(std::this_thread::get_id()) % 1000000007u);
  name += '-';
  name += std::to_string(std::random_device{}());
  name += '-';
  name += std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
  return name;
}

void remove_database_files(const std::string& path) {
  std::error_code ignored;
  for (const char* suffix : {"", "-journal", "-wal", "-shm"}) {
    std::filesystem::remove(path + suffix, ignored);
  }
}

// Makes `path` an empty file readable and writable by its owner only, whatever the umask and
// the data root's mode. SQLite gives the -wal, -shm and -journal files of a database the mode of
// the database file, so they stay private too.
void create_private_file(const std::string& path) {
  std::ofstream(path, std::ios::binary | std::ios::trunc);
  std::error_code error;
  std::filesystem::permissions(
      path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
      std::filesystem::perm_options::replace, error);
  if (error) throw std::system_error(error, "cannot make the new database private");
}

// Writes the schema, the MD's name, the MD's two sections and its own pointer.
void build_account(const std::string& path, const text& name, const text& md_name) {
  create_private_file(path);
  sqlite_connection c(path, true);
  create_schema(c);
  const std::string md_key = encode_name(md_name);
  const account_names names{name, md_name, md_key};
  transaction t(c, true);
  {
    statement_use q = prepare(c, account_statement::insert_md_name);
    q.bind_blob(1, md_key);
    q.run();
  }
  insert_section(c, encode_name(u"DICT " + md_name), md_key, dictionary_kind, std::string());
  insert_section(c, md_key, md_key, data_kind, md_key);
  const text pointer = file_pointer_text(md_name);
  const section_row md = require_section(c, names, md_name, md_key);
  put_item(c, md, md_name, md_name, md_key, encode_content(pointer), utf8_size(pointer),
           put_mode::create);
  t.commit();
  c.execute("PRAGMA journal_mode = WAL");
}

}  // namespace

void create_account(const std::string& root, const text& name, const text& md_name) {
  if (!is_valid_account_name(name)) {
    throw_host_error(host_error::account_not_found,
                     describe({u"'", display_name(name), u"' is not a valid account name."}));
  }
  check_new_file_name(md_name, u"master dictionary");
  const auto fail = [&](const std::string& what) {
    throw_host_error(host_error::storage_failure,
                     describe({u"Cannot create account '", name, u"': ",
                               from_utf8_lenient(what), u"."}));
  };
  const auto exists = [&] {
    throw_host_error(host_error::item_exists, describe({u"Account '", name, u"' already exists."}));
  };
  if (root.empty()) fail("there is no data root (set OMBRIX_DATA or HOME)");
  std::error_code error;
  if (!ensure_data_root(root, error)) {
    std::string what = "cannot create the data root '";
    what += root;
    what += "': ";
    what += error.message();
    fail(what);
  }
  const std::string path = account_path(root, name);
  if (std::filesystem::exists(path, error)) exists();

  const std::string temporary = private_name(path);
  try {
    build_account(temporary, name, md_name);
  } catch (const std::runtime_error& failure) {  // sqlite_failure, std::system_error
    remove_database_files(temporary);
    fail(failure.what());
  } catch (...) {
    remove_database_files(temporary);
    throw;
  }
  // A hard link fails when the name is taken, so two creators cannot both succeed.
  std::filesystem::create_hard_link(temporary, path, error);
  remove_database_files(temporary);
  if (error == std::errc::file_exists) exists();
  if (error) fail(error.message());
}

}  // namespace ombrix
