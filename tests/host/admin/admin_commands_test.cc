#include "host/admin/admin_commands.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "host/embedded/embedded_host.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

namespace fs = std::filesystem;

struct run_result {
  int code;
  std::string out, err;
};

void write_file(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

// File name -> bytes of every file in a directory.
std::map<std::string, std::string> directory_contents(const fs::path& directory) {
  std::map<std::string, std::string> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    std::ostringstream bytes;
    bytes << std::ifstream(entry.path(), std::ios::binary).rdbuf();
    files[entry.path().filename().string()] = bytes.str();
  }
  return files;
}

class AdminCommands : public testing::temporary_data_root {
 protected:
  // Runs the tool with --data pointing at the test's root.
  run_result admin(std::vector<std::string> args, bool with_root = true) {
    if (with_root) args.insert(args.begin(), {"--data", root_});
    std::ostringstream out, err;
    const int code = run_admin(args, "", root_, out, err);
    return {code, out.str(), err.str()};
  }
  std::unique_ptr<embedded_host> host(const text& server = u"SALES**") {
    auto connected = std::make_unique<embedded_host>(stores());
    connected->connect(server);
    return connected;
  }
};

TEST_F(AdminCommands, CreateAccountsAndFilesAndListThem) {
  const run_result created = admin({"create-account", "SALES"}, false);  // the data root given by OMBRIX_DATA
  EXPECT_EQ(created.code, admin_ok);
  EXPECT_EQ(created.err + created.out, "Account 'SALES' created with master dictionary 'MD'.\n");
  EXPECT_EQ(admin({"--data=" + root_, "list", "SALES"}, false).out, "MD\t16\t0\n");
  EXPECT_EQ(admin({"create-account", "PAY", "--md", "VOC"}).code, admin_ok);
  EXPECT_EQ(admin({"list", "PAY"}).out, "VOC\t16\t0\n");
  EXPECT_EQ(admin({"list", "PAY", "DICT VOC"}).out, "VOC\t16\t0\n");

  // create-file makes what is missing and says what it made; asking again adds nothing.
  const std::pair<std::vector<std::string>, std::string> steps[] = {
      {{"create-file", "SALES", "CUST", "HIST", "2024"}, "Created file 'CUST' in account 'SALES' with sections 'HIST' and '2024'.\n"},
      {{"create-file", "SALES", "CUST", "ARCHIVE", "HIST"}, "Added section 'ARCHIVE' to file 'CUST' in account 'SALES'.\n"},
      {{"create-file", "SALES", "CUST", "HIST"}, "Nothing added: file 'CUST' in account 'SALES' exists with every section named.\n"},
      {{"create-file", "SALES", "CUST"}, "Nothing added: file 'CUST' in account 'SALES' exists already.\n"},
      {{"create-file", "SALES", "ORDERS"}, "Created file 'ORDERS' in account 'SALES'.\n"},
      {{"create-file", "SALES", "ORDERS", "A", "B", "C"}, "Added sections 'A', 'B' and 'C' to file 'ORDERS' in account 'SALES'.\n"},
  };
  for (const auto& [args, said] : steps) EXPECT_EQ(admin(args).out, said);
  EXPECT_EQ(admin({"list", "SALES"}).out, "CUST\t16\t0\nMD\t16\t0\nORDERS\t16\t0\n");
  EXPECT_EQ(admin({"list", "SALES", "DICT CUST"}).out,
            "2024\t16\t0\nARCHIVE\t16\t0\nCUST\t16\t0\nHIST\t16\t0\n");
  EXPECT_EQ(admin({"list", "SALES", "CUST,HIST"}).out, "");
  // Items imported into a section are listed there only.
  const fs::path in = base_ / "in";
  fs::create_directories(in);
  write_file(in / "NAME", "D\n1\n");
  EXPECT_EQ(admin({"import", "SALES", "CUST,2024", in.string()}).code, admin_ok);
  EXPECT_EQ(admin({"list", "SALES", "CUST,2024"}).out, "NAME\t0\t4\n");
  EXPECT_EQ(admin({"list", "SALES", "CUST"}).out, "");
}

TEST_F(AdminCommands, FailuresGiveOneLineAndNonZeroExit) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  ASSERT_EQ(admin({"create-file", "SALES", "CUST"}).code, admin_ok);
  const fs::path missing = base_ / "missing";
  const fs::path in = base_ / "in";
  fs::create_directories(in);
  write_file(in / "A", "fine\n");
  write_file(in / "B", "not \xFF utf-8\n");
  const fs::path escaped = base_ / "escaped";
  fs::create_directories(escaped);
  write_file(escaped / "E", "%ombrix-escaped\nfine%25\nbad%zz here\n");
  const fs::path note = base_ / "note";
  fs::create_directories(note);
  write_file(note / "NOTE", "a dictionary item\n");
  ASSERT_EQ(admin({"import", "SALES", "DICT CUST", note.string()}).code, admin_ok);
  const std::vector<std::pair<std::vector<std::string>, std::string>> rows = {
      {{"create-account", "SALES"}, "Account 'SALES' already exists."},
      {{"list", "NOPE"}, "Account 'NOPE' not found."},
      {{"create-file", "SALES", "CUST", "NOTE"}, "Item 'NOTE' already exists in file 'DICT CUST', so no section of that name can be created."},
      {{"create-file", "SALES", "CUST", "CUST"}, "Section 'CUST' is the default section of file 'CUST'; name only further sections."},
      {{"import", "SALES", "CUST", missing.string()}, "Directory '" + missing.string() + "' not found."},
      // All or nothing: A is not imported either.
      {{"import", "SALES", "CUST", in.string()}, "'" + (in / "B").string() + "' is not UTF-8 text, or its name is not UTF-8."},
      // Regression: a bad escape was reported as text that is not UTF-8.
      {{"import", "SALES", "CUST", escaped.string()}, "'" + (escaped / "E").string() + "' has a malformed escape '%zz' in line 3."},
      {{"list", "bad\xC3"}, "Argument 'bad\xC3' is not valid UTF-8."},
  };
  for (const auto& [args, message] : rows) {
    SCOPED_TRACE(args[0] + " " + args[1]);
    const run_result result = admin(args);
    EXPECT_EQ(result.code, admin_failed);
    EXPECT_EQ(result.err + result.out, "ombrix-admin: " + message + "\n");
  }
  EXPECT_EQ(admin({"list", "SALES", "CUST"}).out, "");
}

// Regression: list or export with a data root that did not exist created it.
TEST_F(AdminCommands, CommandsOnAMissingDataRootCreateNothing) {
  const fs::path nowhere = base_ / "no-root";
  for (const std::vector<std::string>& args : {std::vector<std::string>{"--data", nowhere.string(), "list", "SALES"},
                                                {"--data", nowhere.string(), "export", "SALES", "F", (base_ / "out").string()},
                                                {"--data", nowhere.string(), "create-file", "SALES", "F"}}) {
    const run_result result = admin(args, false);
    EXPECT_EQ(result.code, admin_failed) << args[2];
    EXPECT_EQ(result.err, "ombrix-admin: Account 'SALES' not found.\n") << args[2];
  }
  EXPECT_FALSE(fs::exists(nowhere));
  EXPECT_FALSE(fs::exists(base_ / "out"));
}

TEST_F(AdminCommands, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> lines = {
      {}, {"frobnicate"}, {"list"}, {"list", "A", "B", "C"}, {"create-account"},
      {"import", "A", "F"}, {"export", "A", "F", "D", "E"}, {"export", "A", "F", "D", "--force", "E"}, {"create-file", "A"},
      {"copy-account", "A"}, {"copy-account", "A", "--to"}, {"copy-account", "A", "--to", ""},
      {"copy-account", "A", "--into", "B"},
  };
  const run_result help = admin({"--help"}, false);
  EXPECT_EQ(help.code, admin_ok);
  EXPECT_TRUE(help.out.starts_with("usage: ombrix-admin [--data DIR | --store STORE] COMMAND ...\n")) << help.out;
  // The block names the data root the tool would use (OMBRIX_DATA in this test).
  EXPECT_TRUE(help.out.ends_with("here that is\n  " + root_ + "\n")) << help.out;
  std::vector<run_result> results = {admin({"--data"}, false),
                                     admin({"--database", root_, "list", "X"}, false)};
  for (const auto& line : lines) results.push_back(admin(line));
  for (const run_result& result : results) {
    EXPECT_EQ(result.code, admin_usage) << result.err;
    // One line saying what is wrong, then the usage block.
    EXPECT_TRUE(result.err.starts_with("ombrix-admin: ")) << result.err;
    const std::size_t first_line_end = result.err.find('\n');
    ASSERT_NE(first_line_end, std::string::npos);
    EXPECT_EQ(result.err[first_line_end - 1], '.') << result.err;
    EXPECT_EQ(result.err.substr(first_line_end + 1), help.out);
  }
}

TEST_F(AdminCommands, ImportExportRoundTripOfTextFiles) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  const fs::path in = base_ / "in";
  const fs::path out = base_ / "out";
  fs::create_directories(in / "subdirectory-is-skipped");
  const std::map<std::string, std::string> files = {
      {"C1", "NAME\nADDR1\xEF\xA3\xBD" "ADDR2\n42\n"}, {"C2", "one line\n"}, {"EMPTY", ""},
      {"caf\xC3\xA9", "\xE2\x82\xAC 12\xEF\xA3\xBC" "5\n"}, {"blank-lines", "A\n\n\nB\n"}, {".dot", "hidden files are files too\n"},
  };
  for (const auto& [name, bytes] : files) write_file(in / name, bytes);
  write_file(in / "crlf", "X\r\nY\r\n");

  const run_result imported = admin({"import", "SALES", "ORDERS", in.string()});
  EXPECT_EQ(imported.code, admin_ok) << imported.err;
  EXPECT_EQ(imported.out, "7 items imported into 'ORDERS'.\n");
  auto sales = stores().open(u"SALES");  // the file was created with the items
  for (const auto& [id, content] : {std::pair<text, text>{u"C1", u"NAME\r\nADDR1\xF8FD" u"ADDR2\r\n42"}, {u"crlf", u"X\r\nY"},
                                    {u"caf\u00E9", u"\u20AC 12\xF8FC" u"5"}, {u"EMPTY", u""}}) {
    EXPECT_EQ(sales->read(u"ORDERS", id), content);
  }

  const run_result exported = admin({"export", "SALES", "ORDERS", out.string()});
  EXPECT_EQ(exported.code, admin_ok) << exported.err;
  EXPECT_EQ(exported.out, "7 items exported to '" + out.string() + "'.\n");
  std::map<std::string, std::string> expected = files;
  expected["crlf"] = "X\nY\n";
  EXPECT_EQ(directory_contents(out), expected);

  // A second export into the same, now non-empty, directory needs --force.
  EXPECT_EQ(admin({"export", "SALES", "ORDERS", out.string()}).err,
            "ombrix-admin: Directory '" + out.string() +
                "' is not empty; add --force to export into it anyway.\n");
  EXPECT_EQ(admin({"export", "SALES", "ORDERS", out.string(), "--force"}).code, admin_ok);
  EXPECT_EQ(directory_contents(out), expected);
}

// Regression: an id a client can create (a "/", "..") made export fail, and a line end inside an
// attribute came back as two attributes.
TEST_F(AdminCommands, AwkwardIdsAndTextsRoundTripThroughExportAndImport) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  ASSERT_EQ(admin({"create-file", "SALES", "ODD"}).code, admin_ok);
  const std::vector<std::pair<text, text>> items = {{u"a/b", u"x"}, {u"..", u"up"}, {u"lf", u"A\nB\r\nC\r"}};
  for (const auto& [id, content] : items) host()->write_item(u"ODD", id, content, 0, 0, 0, 0);
  const fs::path out = base_ / "out";
  ASSERT_EQ(admin({"export", "SALES", "ODD", out.string()}).code, admin_ok);
  EXPECT_EQ(directory_contents(out), (std::map<std::string, std::string>{{"%%2E%2E", "up\n"}, {"%a%2Fb", "x\n"}, {"lf", "%ombrix-escaped\nA%0AB\nC%0D\n"}}));
  ASSERT_EQ(admin({"create-file", "SALES", "BACK"}).code, admin_ok);
  ASSERT_EQ(admin({"import", "SALES", "BACK", out.string()}).code, admin_ok);
  for (const auto& [id, content] : items) EXPECT_EQ(host()->read_item(u"BACK", id, 0, 0, 0, 0), content) << to_utf8(id);
}

}  // namespace
}  // namespace ombrix
