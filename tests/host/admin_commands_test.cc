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
  std::string out;
  std::string err;
};

class AdminCommands : public testing::temporary_data_root {
 protected:
  // Runs the tool with --data pointing at the test's root.
  run_result admin(std::vector<std::string> args, bool with_root = true) {
    if (with_root) args.insert(args.begin(), {"--data", root_});
    std::ostringstream out;
    std::ostringstream err;
    const int code = run_admin(args, out, err);
    return {code, out.str(), err.str()};
  }

  void write_file(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
  }

  std::string read_file(const fs::path& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
  }

  std::map<std::string, std::string> directory_contents(const fs::path& directory) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(directory)) {
      files[entry.path().filename().string()] = read_file(entry.path());
    }
    return files;
  }
};

TEST_F(AdminCommands, CreateAccountAndListItsMasterDictionary) {
  EXPECT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  const run_result listed = admin({"list", "SALES"});
  EXPECT_EQ(listed.code, admin_ok);
  EXPECT_EQ(listed.out, "MD\t16\t0\n");
  EXPECT_EQ(listed.err, "");
  EXPECT_EQ(admin({"create-account", "PAY", "--md", "VOC"}).code, admin_ok);
  EXPECT_EQ(admin({"list", "PAY"}).out, "VOC\t16\t0\n");
  EXPECT_EQ(admin({"list", "PAY", "DICT VOC"}).out, "VOC\t16\t0\n");
}

TEST_F(AdminCommands, DataRootComesFromOmbrixDataWithoutOption) {
  EXPECT_EQ(admin({"create-account", "ENV"}, false).code, admin_ok);
  EXPECT_TRUE(fs::exists(fs::path(root_) / "ENV.db"));
  auto host = std::make_unique<embedded_host>();
  EXPECT_NO_THROW(host->connect(u"ENV**"));
  EXPECT_EQ(admin({"--data=" + root_, "list", "ENV"}, false).out, "MD\t16\t0\n");
}

TEST_F(AdminCommands, CreateFileMakesDictionarySectionsAndPointer) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  EXPECT_EQ(admin({"create-file", "SALES", "CUST", "HIST", "2024"}).code, admin_ok);
  EXPECT_EQ(admin({"list", "SALES"}).out, "CUST\t16\t0\nMD\t16\t0\n");
  EXPECT_EQ(admin({"list", "SALES", "DICT CUST"}).out, "2024\t16\t0\nCUST\t16\t0\nHIST\t16\t0\n");
  EXPECT_EQ(admin({"list", "SALES", "CUST,HIST"}).out, "");
  // More sections for an existing file.
  EXPECT_EQ(admin({"create-file", "SALES", "CUST", "ARCHIVE"}).code, admin_ok);
  EXPECT_EQ(admin({"list", "SALES", "DICT CUST"}).out,
            "2024\t16\t0\nARCHIVE\t16\t0\nCUST\t16\t0\nHIST\t16\t0\n");
}

TEST_F(AdminCommands, FailuresGiveOneLineAndNonZeroExit) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  ASSERT_EQ(admin({"create-file", "SALES", "CUST"}).code, admin_ok);
  const fs::path missing = base_ / "missing";
  struct row {
    std::vector<std::string> args;
    int code;
    std::string err;
  };
  const std::vector<row> rows = {
      {{"create-account", "SALES"}, admin_failed, "ombrix-admin: Account 'SALES' already exists.\n"},
      {{"create-account", "../x"}, admin_failed,
       "ombrix-admin: '../x' is not a valid account name.\n"},
      {{"create-account", "a/b"}, admin_failed, "ombrix-admin: 'a/b' is not a valid account name.\n"},
      {{"create-account", std::string(65, 'x')}, admin_failed,
       "ombrix-admin: '" + std::string(65, 'x') + "' is not a valid account name.\n"},
      {{"list", "NOPE"}, admin_failed, "ombrix-admin: Account 'NOPE' not found.\n"},
      {{"list", "SALES", "NOPE"}, admin_failed,
       "ombrix-admin: File 'NOPE' not found in account 'SALES'.\n"},
      {{"create-file", "SALES", "CUST"}, admin_failed,
       "ombrix-admin: File 'CUST' already exists in account 'SALES'.\n"},
      {{"create-file", "SALES", "CUST", "CUST"}, admin_failed,
       "ombrix-admin: Section 'CUST' is the default section of file 'CUST'; name only further "
       "sections.\n"},
      {{"create-file", "SALES", "A,B"}, admin_failed,
       "ombrix-admin: Invalid file name 'A,B' (it must be 1 to 255 characters without control "
       "characters, ',', '/', '*' or marks, and not start with \"DICT \").\n"},
      {{"import", "SALES", "CUST", missing.string()}, admin_failed,
       "ombrix-admin: directory '" + missing.string() + "' not found\n"},
      {{"import", "NOPE", "CUST", base_.string()}, admin_failed,
       "ombrix-admin: Account 'NOPE' not found.\n"},
      {{"export", "SALES", "NOPE", missing.string()}, admin_failed,
       "ombrix-admin: File 'NOPE' not found in account 'SALES'.\n"},
      {{"list", "bad\xC3"}, admin_failed, "ombrix-admin: 'bad\xC3' is not valid UTF-8\n"},
  };
  for (const row& r : rows) {
    const run_result result = admin(r.args);
    EXPECT_EQ(result.code, r.code) << r.args[0];
    EXPECT_EQ(result.err, r.err);
    EXPECT_EQ(result.out, "");
  }
  EXPECT_FALSE(fs::exists(missing)) << "export did not start";
  EXPECT_FALSE(fs::exists(base_ / "x.db"));
}

TEST_F(AdminCommands, UsageErrorsExitWithTwo) {
  const std::vector<std::vector<std::string>> lines = {
      {"--data", root_},
      {"--data"},
      {"--database", root_, "list", "X"},
      {"--data", root_, "frobnicate"},
      {"--data", root_, "list"},
      {"--data", root_, "list", "A", "B", "C"},
      {"--data", root_, "create-account"},
      {"--data", root_, "create-account", "A", "--md"},
      {"--data", root_, "create-account", "A", "--mx", "B"},
      {"--data", root_, "import", "A", "F"},
      {"--data", root_, "export", "A", "F", "D", "E"},
      {"--data", root_, "create-file", "A"},
  };
  for (const auto& line : lines) {
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(run_admin(line, out, err), admin_usage) << line.back();
    const std::string message = err.str();
    EXPECT_TRUE(message.starts_with("ombrix-admin: ")) << message;
    EXPECT_EQ(std::count(message.begin(), message.end(), '\n'), 1) << message;
  }
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(run_admin({"--help"}, out, err), admin_ok);
  EXPECT_TRUE(out.str().starts_with("usage: ombrix-admin [--data DIR] COMMAND")) << out.str();
}

TEST_F(AdminCommands, ImportExportRoundTripOfTextFiles) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  const fs::path in = base_ / "in";
  const fs::path out = base_ / "out";
  fs::create_directories(in / "subdirectory-is-skipped");
  const std::map<std::string, std::string> files = {
      {"C1", "NAME\nADDR1\xEF\xA3\xBD" "ADDR2\n42\n"},
      {"C2", "one line\n"},
      {"EMPTY", ""},
      {"caf\xC3\xA9", "\xE2\x82\xAC 12\xEF\xA3\xBC" "5\n"},
      {"blank-lines", "A\n\n\nB\n"},
      {".dot", "hidden files are files too\n"},
  };
  for (const auto& [name, bytes] : files) write_file(in / name, bytes);
  write_file(in / "crlf", "X\r\nY\r\n");

  const run_result imported = admin({"import", "SALES", "ORDERS", in.string()});
  EXPECT_EQ(imported.code, admin_ok) << imported.err;
  EXPECT_EQ(imported.out, "7 items imported into 'ORDERS'.\n");

  // The items as the host sees them.
  auto host = std::make_unique<embedded_host>();
  host->connect(u"SALES**");
  EXPECT_EQ(host->read_item(u"ORDERS", u"C1", 0, 0, 0, 0), u"NAME\r\nADDR1\xF8FD" u"ADDR2\r\n42");
  EXPECT_EQ(host->read_item(u"ORDERS", u"crlf", 0, 0, 0, 0), u"X\r\nY");
  EXPECT_EQ(host->read_item(u"ORDERS", u"caf\u00E9", 0, 0, 0, 0), u"\u20AC 12\xF8FC" u"5");
  EXPECT_EQ(host->read_item(u"ORDERS", u"EMPTY", 0, 0, 0, 0), u"");
  EXPECT_EQ(host->stat_item(u"MD", u"ORDERS", u"-1"), u"16\r\n0") << "the file was created";

  const run_result exported = admin({"export", "SALES", "ORDERS", out.string()});
  EXPECT_EQ(exported.code, admin_ok) << exported.err;
  EXPECT_EQ(exported.out, "7 items exported to '" + out.string() + "'.\n");
  std::map<std::string, std::string> expected = files;
  expected["crlf"] = "X\nY\n";
  EXPECT_EQ(directory_contents(out), expected);

  // Importing the export again changes nothing.
  ASSERT_EQ(admin({"import", "SALES", "ORDERS", out.string()}).code, admin_ok);
  const fs::path again = base_ / "again";
  ASSERT_EQ(admin({"export", "SALES", "ORDERS", again.string()}).code, admin_ok);
  EXPECT_EQ(directory_contents(again), expected);
}

TEST_F(AdminCommands, ImportIntoSectionsAndDictionaries) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  const fs::path in = base_ / "in";
  fs::create_directories(in);
  write_file(in / "NAME", "D\n1\n");
  EXPECT_EQ(admin({"import", "SALES", "CUST,2024", in.string()}).code, admin_ok);
  EXPECT_EQ(admin({"import", "SALES", "DICT CUST", in.string()}).code, admin_ok);
  EXPECT_EQ(admin({"list", "SALES", "DICT CUST"}).out, "2024\t16\t0\nCUST\t16\t0\nNAME\t0\t4\n");
  EXPECT_EQ(admin({"list", "SALES", "CUST,2024"}).out, "NAME\t0\t4\n");
  EXPECT_EQ(admin({"list", "SALES", "CUST"}).out, "");
}

TEST_F(AdminCommands, ImportIsAllOrNothing) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  ASSERT_EQ(admin({"create-file", "SALES", "CUST"}).code, admin_ok);
  const fs::path in = base_ / "in";
  fs::create_directories(in);
  write_file(in / "A", "fine\n");
  write_file(in / "B", "not \xFF utf-8\n");
  const run_result result = admin({"import", "SALES", "CUST", in.string()});
  EXPECT_EQ(result.code, admin_failed);
  EXPECT_EQ(result.err,
            "ombrix-admin: '" + (in / "B").string() + "' is not UTF-8 text (or its name is not "
                                                      "UTF-8)\n");
  EXPECT_EQ(admin({"list", "SALES", "CUST"}).out, "");
}

TEST_F(AdminCommands, ExportRefusesIdsThatAreNoFileNames) {
  ASSERT_EQ(admin({"create-account", "SALES"}).code, admin_ok);
  ASSERT_EQ(admin({"create-file", "SALES", "CUST"}).code, admin_ok);
  auto host = std::make_unique<embedded_host>();
  host->connect(u"SALES**");
  host->write_item(u"CUST", u"A", u"x", 0, 0, 0, 0);
  host->write_item(u"CUST", u"a/b", u"x", 0, 0, 0, 0);
  const fs::path out = base_ / "out";
  const run_result result = admin({"export", "SALES", "CUST", out.string()});
  EXPECT_EQ(result.code, admin_failed);
  EXPECT_EQ(result.err,
            "ombrix-admin: item 'a/b' cannot be exported: its id is not a valid file name\n");
  EXPECT_FALSE(fs::exists(out / "A")) << "nothing written";
}

}  // namespace
}  // namespace ombrix
