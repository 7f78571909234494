// copy-account between a data root and a PostgreSQL store, both ways: every file, section and
// item arrives unchanged, and a refused copy leaves the target as it was.
#include <gtest/gtest.h>

#include <sstream>

#include "host/admin/admin_commands.h"
#include "host/admin/admin_store.h"
#include "tests/host/pg/pg_test_database.h"

namespace ombrix {
namespace {

struct run_result {
  int code;
  std::string out, err;
};

run_result admin(const std::vector<std::string>& args, const std::string& environment_store = {},
                 const std::string& data_root = {}) {
  std::ostringstream out, err;
  const int code = run_admin(args, environment_store, data_root, out, err);
  return {code, out.str(), err.str()};
}

// The account as comparable text: files with their sections, then every section's items.
std::string image_text(const std::string& store, const text& name) {
  const account_image image = read_account_image(*admin_store::open(store)->account(name));
  std::string out;
  out.append("md ").append(to_utf8(image.md_name)).append("\n");
  for (const auto& file : image.files) {
    out.append("file ").append(to_utf8(file.name));
    for (const auto& section : file.sections) out.append(" ").append(to_utf8(section));
    out.append("\n");
  }
  for (const auto& section : image.sections) {
    out.append("section ").append(to_utf8(section.name));
    for (const auto& [id, content] : section.items) out.append(" ").append(to_utf8(id)).append("=").append(to_utf8(content));
    out.append("\n");
  }
  return out;
}

using CopyAccount = testing::pg_data_root_test;

TEST_F(CopyAccount, BothWaysItemByItem) {
  make_account(u"SALES", u"SMD");
  {
    auto sales = stores().open(u"SALES");
    sales->create_file(u"CUST", {u"HIST", u"\u00C9T\u00C9"});
    sales->create_file(u"BP", {});
    sales->import_items(u"CUST", {{u"C1", u"A\r\nB\xF8FD" u"C"}, {u"\U0001F600", text(u"\0\r\xD800", 3)}});
    sales->import_items(u"CUST,HIST", {{u"H1", u"old"}});
    sales->import_items(u"DICT CUST", {{u"NAME", u"D\r\n1"}});
    sales->import_items(u"SMD", {{u"VERB", u"V"}});
  }
  const std::string original = image_text(root_, u"SALES");
  ASSERT_NE(original.find("section CUST,\xC3\x89T\xC3\x89"), std::string::npos) << original;

  const std::string& store = database_->conninfo();
  const run_result there = admin({"--data", root_, "copy-account", "SALES", "--to", store});
  EXPECT_EQ(there.code, 0) << there.err;
  EXPECT_EQ(there.out, "Account 'SALES' copied from data root " + root_ + " to PostgreSQL database " + database_->name() + ": 3 files, 8 items.\n");
  EXPECT_EQ(image_text(store, u"SALES"), original);

  // Back, with the PostgreSQL store as the current one (OMBRIX_STORE).
  const std::string back_root = (base_ / "back").string();
  const run_result back = admin({"copy-account", "SALES", "--to", back_root}, store);
  EXPECT_EQ(back.code, 0) << back.err;
  EXPECT_EQ(image_text(back_root, u"SALES"), original);

  // Onto an existing account: refused, and the target is left as it was.
  ASSERT_EQ(admin({"--store", store, "create-file", "SALES", "NEW"}).code, 0);
  const std::string before = image_text(store, u"SALES");
  const run_result again = admin({"copy-account", "SALES", "--from", root_, "--to", store}, {}, root_);
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(again.err, "ombrix-admin: Account 'SALES' already exists.\n");
  EXPECT_EQ(image_text(store, u"SALES"), before);
}

TEST_F(CopyAccount, CommandsWorkOnAPostgresqlStoreAndRefuseABadOne) {
  const std::string& store = database_->conninfo();
  EXPECT_EQ(admin({"create-account", "MAIN"}, store).code, 0);
  EXPECT_EQ(admin({"--store", store, "create-file", "MAIN", "BP"}).out, "Created file 'BP' in account 'MAIN'.\n");
  EXPECT_EQ(admin({"list", "MAIN"}, store).out, "BP\t16\t0\nMD\t16\t0\n");
  const run_result bad = admin({"--store", "postgresql://[", "list", "MAIN"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_TRUE(bad.err.starts_with("ombrix-admin: The store 'postgresql://[' is not a valid PostgreSQL connection (")) << bad.err;
  EXPECT_EQ(admin({"list", "NOSUCH"}, store).err, "ombrix-admin: Account 'NOSUCH' not found.\n");
}

}  // namespace
}  // namespace ombrix
