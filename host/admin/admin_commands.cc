#include "host/admin/admin_commands.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "host/admin/admin_store.h"
#include "host/item_files.h"
#include "host/com_error.h"
#include "host/embedded/account_location.h"
#include "host/embedded/account_store.h"
#include "host/text.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

// The usage block; the default data root is filled in where it says DATA_ROOT.
constexpr const char* usage_lines[] = {
    "usage: ombrix-admin [--data DIR | --store STORE] COMMAND ...",
    "  create-account NAME [--md MDNAME]        a new account with its master dictionary (MD)",
    "  create-file ACCOUNT FILE [SECTION ...]   a file, or the sections an existing file lacks",
    "  import ACCOUNT FILE DIR                  FILE: F, F,D or DICT F; all items or none",
    "  export ACCOUNT FILE DIR [--force]        one text file per item; a non-empty DIR only with "
    "--force",
    "  list ACCOUNT [FILE]                      id TAB attributes TAB size per entry (default: the "
    "MD)",
    "  copy-account NAME --to STORE [--from STORE]  the whole account into another store, all or "
    "nothing",
    "A STORE is a data root directory or a PostgreSQL connection URI (postgresql://...) or",
    "service=NAME; the store is --store, else --data DIR, else $OMBRIX_STORE when set, else the",
    "data root: $OMBRIX_DATA, else the user's data folder; here that is",
    "  DATA_ROOT",
};

std::string usage_text(std::string root) {
  if (root.empty()) root = "none: set OMBRIX_DATA or HOME";
  std::string out;
  for (std::string_view line : usage_lines) {
    const std::size_t at = line.find("DATA_ROOT");
    if (at == std::string_view::npos) {
      out.append(line);
    } else {
      out.append(line.substr(0, at)).append(root).append(line.substr(at + 9));
    }
    out.push_back('\n');
  }
  return out;
}

// A failure of a command: its message becomes the one line on standard error.
struct admin_error : std::runtime_error {
  admin_error(int code, const std::string& message) : std::runtime_error(message), code(code) {}
  int code;
};

// A wrong command line: the message, then the usage block.
[[noreturn]] void usage(const std::string& problem) { throw admin_error(admin_usage, problem); }

[[noreturn]] void failed(const std::string& message) { throw admin_error(admin_failed, message); }

text name_argument(const std::string& argument) {
  try {
    return from_utf8(argument);
  } catch (const std::range_error&) {
    failed("Argument '" + argument + "' is not valid UTF-8.");
  }
}

struct command_line {
  std::string store;               // a data root directory or a PostgreSQL connection text
  std::vector<std::string> words;  // the command and its arguments
};

command_line parse(const std::vector<std::string>& args, const std::string& environment_store,
                   const std::string& data_root) {
  command_line line;
  bool given = false;
  std::size_t i = 0;
  while (i < args.size() && (args[i].starts_with("--data") || args[i].starts_with("--store"))) {
    const bool data = args[i].starts_with("--data");
    const std::string option = data ? "--data" : "--store";
    const std::string what = data ? "a directory" : "a store";
    std::string value;
    if (args[i] == option) {
      if (i + 1 >= args.size()) usage("Option " + option + " needs " + what + ".");
      value = args[i + 1];
      i += 2;
    } else if (args[i].starts_with(option + "=")) {
      value = args[i].substr(option.size() + 1);
      i += 1;
    } else {
      usage("Unknown option '" + args[i] + "'.");
    }
    if (value.empty()) usage("Option " + option + " needs " + what + ".");
    if (given) usage("Give one of --data and --store, once.");
    line.store = value;
    given = true;
  }
  line.words.assign(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (line.words.empty()) usage("No command given.");
  if (!given) line.store = environment_store;
  if (line.store.empty()) line.store = data_root;
  if (line.store.empty()) failed("There is no data root: set OMBRIX_DATA or HOME, or give --data DIR.");
  return line;
}

std::unique_ptr<admin_store> open_store(const std::string& location) {
  try {
    return admin_store::open(location);
  } catch (const admin_store_error& error) {
    failed(error.what());
  }
}

void expect_arguments(const std::vector<std::string>& words, std::size_t least, std::size_t most) {
  const std::size_t given = words.size() - 1;
  if (given < least || given > most) usage("Wrong number of arguments for " + words[0] + ".");
}

// Opens an existing account. A missing data root is a missing account: nothing is created on
// disk for a command that only reads or adds to an account.
std::unique_ptr<admin_account> open_account(const command_line& line, const std::string& name) {
  return open_store(line.store)->account(name_argument(name));
}

void create_account(const command_line& line, std::ostream& out) {
  const auto& words = line.words;
  std::string md = "MD";
  if (words.size() == 4 && words[2] == "--md") {
    md = words[3];
  } else if (words.size() != 2) {
    usage("Command create-account takes NAME [--md MDNAME].");
  }
  open_store(line.store)->create_account(name_argument(words[1]), name_argument(md));
  out << "Account '" << words[1] << "' created with master dictionary '" << md << "'.\n";
}

// 'A', 'B' and 'C'
std::string quoted_list(const std::vector<text>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) out += i + 1 == names.size() ? " and " : ", ";
    out.append("'").append(to_utf8(names[i])).append("'");
  }
  return out;
}

void create_file(const command_line& line, std::ostream& out) {
  const auto& words = line.words;
  expect_arguments(words, 2, static_cast<std::size_t>(-1));
  std::vector<text> sections;
  for (std::size_t i = 3; i < words.size(); ++i) sections.push_back(name_argument(words[i]));
  const account_store::file_additions added =
      open_account(line, words[1])->create_file(name_argument(words[2]), sections);
  std::string file = "file '";
  file.append(words[2]).append("'");
  std::string where = " in account '";
  where.append(words[1]).append("'");
  const std::string some = added.sections.size() == 1 ? " section " : " sections ";
  if (added.file) {
    out << "Created " << file << where;
    if (!added.sections.empty()) out << " with" << some << quoted_list(added.sections);
  } else if (!added.sections.empty()) {
    out << "Added" << some << quoted_list(added.sections) << " to " << file << where;
  } else {
    out << "Nothing added: " << file << where << " exists"
        << (sections.empty() ? " already" : " with every section named");
  }
  out << ".\n";
}

std::string read_file(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) failed("Cannot read '" + path.string() + "'.");
  std::string bytes;
  char buffer[1 << 16];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    bytes.append(buffer, static_cast<std::size_t>(in.gcount()));
  }
  if (in.bad()) failed("Cannot read '" + path.string() + "'.");
  return bytes;
}

void import_directory(const command_line& line, std::ostream& out) {
  const auto& words = line.words;
  expect_arguments(words, 3, 3);
  const fs::path directory = words[3];
  std::error_code error;
  if (!fs::is_directory(directory, error)) failed("Directory '" + words[3] + "' not found.");
  const text file = name_argument(words[2]);
  std::unique_ptr<admin_account> store = open_account(line, words[1]);

  std::vector<fs::path> paths;
  for (fs::directory_iterator it(directory, error), end; !error && it != end; it.increment(error)) {
    if (it->is_regular_file(error)) paths.push_back(it->path());
  }
  if (error) failed("Cannot read directory '" + words[3] + "': " + error.message() + ".");
  std::sort(paths.begin(), paths.end());

  std::vector<account_store::item> items;
  items.reserve(paths.size());
  for (const fs::path& path : paths) {
    const std::string name = path.filename().string();
    const std::optional<std::string> id = id_of_file_name(name);
    if (!id) {
      std::string message = "'";
      message.append(path.string()).append("' has a malformed escape in its name.");
      failed(message);
    }
    try {
      items.push_back({from_utf8(*id), item_from_text_file(read_file(path))});
    } catch (const malformed_escape& escape) {
      failed("'" + path.string() + "' has a malformed escape " + escape.what() + ".");
    } catch (const std::range_error&) {
      failed("'" + path.string() + "' is not UTF-8 text, or its name is not UTF-8.");
    }
  }
  const std::size_t count = store->import_items(file, items);
  out << count << (count == 1 ? " item" : " items") << " imported into '" << words[2] << "'.\n";
}

void export_directory(const command_line& line, std::ostream& out) {
  std::vector<std::string> words = line.words;
  const bool force = words.size() == 5 && words[4] == "--force";
  if (force) words.pop_back();
  expect_arguments(words, 3, 3);
  const fs::path directory = words[3];
  std::error_code error;
  // Export overwrites files of the same names; into a directory that holds other files only
  // when asked to.
  if (!force && fs::is_directory(directory, error) && !fs::is_empty(directory, error)) {
    failed("Directory '" + words[3] + "' is not empty; add --force to export into it anyway.");
  }
  const text file = name_argument(words[2]);
  std::unique_ptr<admin_account> store = open_account(line, words[1]);

  std::vector<std::pair<std::string, std::string>> files;  // file name, bytes
  // Ids that are no usable file name are written escaped (see item_files.h).
  store->for_each_item(file, [&](const text& id, const text& content) {
    files.emplace_back(file_name_of_id(to_utf8(id)), text_file_from_item(content));
  });
  fs::create_directories(directory, error);
  if (!fs::is_directory(directory, error)) failed("Cannot create directory '" + words[3] + "'.");
  for (const auto& [name, bytes] : files) {
    const fs::path path = directory / name;
    std::ofstream target(path, std::ios::binary | std::ios::trunc);
    target.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    target.close();
    if (!target) failed("Cannot write '" + path.string() + "'.");
  }
  out << files.size() << (files.size() == 1 ? " item" : " items") << " exported to '" << words[3]
      << "'.\n";
}

// copy-account NAME --to STORE [--from STORE]: read whole, then written in one go.
void copy_account(const command_line& line, std::ostream& out) {
  const auto& words = line.words;
  std::string from = line.store;
  std::string to;
  for (std::size_t i = 2; i < words.size(); i += 2) {
    if (i + 1 >= words.size() || (words[i] != "--to" && words[i] != "--from") ||
        words[i + 1].empty()) {
      usage("Command copy-account takes NAME --to STORE [--from STORE].");
    }
    (words[i] == "--to" ? to : from) = words[i + 1];
  }
  if (words.size() < 2 || to.empty()) {
    usage("Command copy-account takes NAME --to STORE [--from STORE].");
  }
  const text name = name_argument(words[1]);
  std::unique_ptr<admin_store> source = open_store(from);
  std::unique_ptr<admin_store> target = open_store(to);
  const account_image image = read_account_image(*source->account(name));
  target->write_account(name, image);
  std::size_t items = 0;
  for (const auto& section : image.sections) items += section.items.size();
  out << "Account '" << words[1] << "' copied from " << source->description() << " to "
      << target->description() << ": " << image.files.size()
      << (image.files.size() == 1 ? " file, " : " files, ") << items
      << (items == 1 ? " item" : " items") << ".\n";
}

void list_file(const command_line& line, std::ostream& out) {
  const auto& words = line.words;
  expect_arguments(words, 1, 2);
  std::unique_ptr<admin_account> store = open_account(line, words[1]);
  const text file = words.size() > 2 ? name_argument(words[2]) : store->md_name();
  for (const listing_entry& entry : store->entries(file, 0, 0)) {
    out << to_utf8(entry.name) << '\t' << entry.attributes << '\t' << entry.size << '\n';
  }
}

}  // namespace

int run_admin(const std::vector<std::string>& args, const std::string& environment_store,
              const std::string& data_root, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h")) {
    out << usage_text(data_root);
    return admin_ok;
  }
  try {
    const command_line line = parse(args, environment_store, data_root);
    const std::string& command = line.words[0];
    if (command == "create-account") {
      create_account(line, out);
    } else if (command == "create-file") {
      create_file(line, out);
    } else if (command == "import") {
      import_directory(line, out);
    } else if (command == "export") {
      export_directory(line, out);
    } else if (command == "list") {
      list_file(line, out);
    } else if (command == "copy-account") {
      copy_account(line, out);
    } else {
      usage("Unknown command '" + command + "'.");
    }
    out.flush();
    return admin_ok;
  } catch (const admin_error& error) {
    err << "ombrix-admin: " << error.what() << '\n';
    if (error.code == admin_usage) err << usage_text(data_root);
    return error.code;
  } catch (const _com_error& error) {
    err << "ombrix-admin: " << to_utf8(error.Description()) << '\n';
    return admin_failed;
  } catch (const std::exception& error) {
    err << "ombrix-admin: " << error.what() << '\n';
    return admin_failed;
  }
}

}  // namespace ombrix
