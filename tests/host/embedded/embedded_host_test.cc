#include "host/embedded/embedded_host.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/embedded/account_store.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

using testing::failure_of;
using failure = std::pair<int, std::string>;

constexpr char16_t vm = value_mark;
constexpr char16_t sm = subvalue_mark;

// A listing: the file's line, then one row per entry, '|' standing for the subvalue mark.
text listing(const text& file, std::initializer_list<std::u16string_view> rows) {
  text out = file + u"\r\n";
  for (const std::u16string_view row : rows) {
    if (out.size() > file.size() + 2) out.push_back(vm);
    for (const char16_t unit : row) out.push_back(unit == u'|' ? sm : unit);
  }
  return out;
}

// The failure code of a call outside the host error numbers (E_POINTER, E_NOTIMPL), or 0.
hresult com_code(const std::function<void()>& call) {
  try {
    call();
  } catch (const _com_error& error) {
    return error.Error();
  }
  return 0;
}

// An account SALES with file CUST (sections CUST and HIST), connected as a host object.
class EmbeddedHost : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    stores().open(u"SALES")->create_file(u"CUST", {u"HIST"});
    host_ = connected(u"SALES**test");
  }

  std::unique_ptr<embedded_host> connected(const text& server) {
    auto host = std::make_unique<embedded_host>(stores());
    host->connect(server);
    return host;
  }
  text read(const text& file, const text& id) { return host_->read_item(file, id, 0, 0, 0, 0); }
  void write(const text& file, const text& id, const text& content) {
    host_->write_item(file, id, content, 0, 0, 0, 0);
  }
  text stat(const text& file, const text& id) { return host_->stat_item(file, id, u"-1\xF8FD-2"); }
  text list(const text& file, std::int32_t attribute = 0, std::int32_t max_count = 0) {
    return host_->list_items(file, attribute, max_count, text(), u"-1");
  }
  text call(const text& name, const text& first, const text& second) {
    return host_->call_subroutine(name, first, second);
  }

  std::unique_ptr<embedded_host> host_;
};

// ---- connect and properties

TEST_F(EmbeddedHost, PropertiesGiveNamesThatReachTheAccountAgain) {
  make_account(u"PAY", u"VOC");
  auto host = connected(u"x*PAY**client7");
  EXPECT_EQ(host->get_server_name(), u"PAY");
  EXPECT_EQ(host->get_property_2(), u"client7");
  EXPECT_EQ(host->get_property_3(), u"PAY");
  EXPECT_EQ(host->get_property_5(), u"VOC");
  EXPECT_EQ(host->get_property_4(), from_utf8(root_ + "/PAY.db"));
  auto again = connected(host->get_server_name() + u"**" + host->get_property_2());
  EXPECT_EQ(again->get_property_5(), u"VOC");
  EXPECT_EQ(host_->get_property_5(), u"MD");
}

TEST_F(EmbeddedHost, InvalidAccountNamesAre201AndNeverBecomePaths) {
  // The name rules themselves are pinned in account_location_test.cc.
  const std::vector<text> servers = {u"../x**", u"..**", u"/etc/passwd**", text(65, u'A') + u"**",
                                     text(u"a") + text(1, u'\0') + u"b**"};
  const auto entries = [](const std::filesystem::path& directory) {
    return std::distance(std::filesystem::directory_iterator(directory), {});
  };
  const auto before = entries(base_);
  for (const text& server : servers) {
    const auto [number, description] = failure_of([&] { connected(server); });
    EXPECT_EQ(number, 201) << to_utf8(server);
    EXPECT_TRUE(description.ends_with("' is not a valid account name.")) << description;
  }
  EXPECT_EQ(failure_of([&] { stores().open(u""); }).first, 201);
  EXPECT_EQ(entries(base_), before) << "nothing appeared beside the data root";
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    EXPECT_EQ(entry.path().filename().string().rfind("SALES.db", 0), 0u) << entry.path();
  }
  const text name(64, u'B');  // the longest valid name
  make_account(name);
  EXPECT_EQ(connected(name + u"**")->get_property_3(), name);
}

TEST_F(EmbeddedHost, DataRootIsCreatedOnFirstUseForItsOwnerOnly) {
  namespace fs = std::filesystem;
  const std::string nested = (base_ / "a" / "b").string();
  account_stores nested_stores(nested, u"MAIN");
  embedded_host nested_host(nested_stores);
  EXPECT_EQ(failure_of([&] { nested_host.connect(u"SALES**"); }).first, 201);
  ASSERT_TRUE(fs::is_directory(nested));
  // Regression: the data root took the umask's mode, readable by every local user.
  EXPECT_EQ(fs::status(nested).permissions() & fs::perms::all, fs::perms::owner_all);
}

// Regression: an account database that was a symbolic link was followed out of the data root.
TEST_F(EmbeddedHost, AccountFilesThatAreLinksOrNotRegularFilesAre201) {
  namespace fs = std::filesystem;
  const fs::path elsewhere = base_ / "elsewhere.db";
  fs::copy_file(fs::path(root_) / "SALES.db", elsewhere);
  fs::create_symlink(elsewhere, fs::path(root_) / "LINKED.db");
  fs::create_directory(fs::path(root_) / "FOLDER.db");
  for (const char16_t* server : {u"LINKED**", u"FOLDER**"}) {
    const auto [number, description] = failure_of([&] { connected(server); });
    EXPECT_EQ(number, 201) << to_utf8(server);
    EXPECT_TRUE(description.ends_with("its database is not a regular file.")) << description;
  }
  EXPECT_EQ(connected(u"SALES**")->get_property_3(), u"SALES");
}

TEST_F(EmbeddedHost, UnconnectedAndUncalledOperationsFailWithTheirCodes) {
  embedded_host host(stores());
  const std::vector<std::pair<std::function<void()>, hresult>> rows = {
      {[&] { host.read_item(u"CUST", u"C1", 0, 0, 0, 0); }, e_pointer},
      {[&] { host.get_server_name(); }, e_pointer},
      {[&] { host.list_items(u"MD", 0, 0, u"", u"-1"); }, e_pointer},
      {[&] { host.quit(); }, 0},
      {[&] { host_->query_flag_1(u"a"); }, e_notimpl},
      {[&] { host_->query_flag_2(u"a", u"b"); }, e_notimpl},
      {[&] { host_->invoke_pair(u"a", u"b"); }, e_notimpl},
      {[&] { host_->query_text_1(u"a", u"b", 0); }, e_notimpl},
      {[&] { host_->query_text_2(1, u"a"); }, e_notimpl},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) EXPECT_EQ(com_code(rows[i].first), rows[i].second) << i;
}

// ---- items

// Texts of a MiB and more are written into their row piece by piece; every size on either side
// of that bound, and each kind of replacement, must read back unchanged.
TEST_F(EmbeddedHost, LargeTextsRoundTripAcrossThePiecewiseBound) {
  const auto text_of = [](std::size_t units, char16_t seed) {
    text out(units, u'\0');
    for (std::size_t i = 0; i < units; ++i) out[i] = static_cast<char16_t>(seed + i * 7919 % 60000);
    return out;
  };
  constexpr std::size_t bound_units = 512 * 1024;  // 1 MiB of stored bytes
  const std::size_t sizes[] = {bound_units - 1, bound_units, 3 * bound_units + 17, 5, 0,
                               2 * bound_units};
  char16_t seed = 1;
  for (const std::size_t units : sizes) {
    SCOPED_TRACE(units);
    const text content = text_of(units, seed++);
    write(u"CUST", u"BIG", content);
    EXPECT_TRUE(read(u"CUST", u"BIG") == content);
    host_->create_item(u"CUST", u"NEW" + text(1, seed), content);
    EXPECT_TRUE(read(u"CUST", u"NEW" + text(1, seed)) == content);
  }
}

TEST_F(EmbeddedHost, ItemsAreVisibleToEveryHostObjectOfTheAccount) {
  write(u"CUST,HIST", u"H1", u"2024");
  EXPECT_EQ(connected(u"SALES**other")->read_item(u"CUST,HIST", u"H1", 0, 0, 0, 0), u"2024");
  EXPECT_EQ(failure_of([&] { read(u"CUST", u"H1"); }).first, 202) << "sections are separate";
  host_->quit();
  EXPECT_EQ(connected(u"SALES**")->read_item(u"CUST,HIST", u"H1", 0, 0, 0, 0), u"2024")
      << "quit leaves the account usable";
}

TEST_F(EmbeddedHost, ContentRoundTripsLosslessly) {
  text every_unit;
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) every_unit.push_back(char16_t(unit));
  const std::vector<text> contents = {
      u"", u"A\r\nB\xF8FD" u"C\xF8FC" u"D", text(u"A") + text(1, u'\0') + u"B" + text(1, u'\0'),
      u"bare\rCR and bare\nLF\r", text{char16_t(0xD800)}, text{u'x', char16_t(0xDFFF)},
      text{char16_t(0xDE00), char16_t(0xD83D)}, u"\xD83D\xDE00", u"\xFEFF\xFFFE\xFFFF",
      u"\xF8FB\xF8FC\xF8FD\xF8FE\xF8FF", every_unit, text(300000, u'\x4E2D'),
  };
  for (std::size_t i = 0; i < contents.size(); ++i) {
    // Appending rather than "L" + ...: g++ 12 reports a false -Wrestrict on the latter.
    const text id = from_utf8(std::string("L").append(std::to_string(i)));
    write(u"CUST", id, contents[i]);
    EXPECT_EQ(connected(u"SALES**")->read_item(u"CUST", id, 0, 0, 0, 0), contents[i]) << i;
    EXPECT_EQ(stat(u"CUST", id), u"0\r\n" + from_utf8(std::to_string(to_utf8(contents[i]).size())))
        << i;
  }
}

TEST_F(EmbeddedHost, WriteCreateReplaceAndDelete) {
  write(u"CUST", u"C1", u"NAME\r\nADDR");
  EXPECT_EQ(read(u"CUST", u"C1"), u"NAME\r\nADDR");
  write(u"CUST", u"C1", u"a much longer text\r\n\u00E9");
  EXPECT_EQ(list(u"CUST"), listing(u"CUST", {u"C1|0|22"}));
  write(u"CUST", u"C1", u"NEW");
  EXPECT_EQ(read(u"CUST", u"C1"), u"NEW");
  EXPECT_EQ(stat(u"CUST", u"C1"), u"0\r\n3");
  EXPECT_EQ(list(u"CUST"), listing(u"CUST", {u"C1|0|3"}));
  host_->create_item(u"CUST", u"C7", text());  // null content, as generation 71 creates
  EXPECT_EQ(stat(u"CUST", u"C7"), u"0\r\n0");
  write(u"CUST", u"C7", u"DATA");
  EXPECT_EQ(read(u"CUST", u"C7"), u"DATA");
  write(u"DICT CUST", u"NAME", u"D\r\n1");
  host_->delete_item(u"DICT CUST", u"NAME");
  EXPECT_EQ(failure_of([&] { read(u"DICT CUST", u"NAME"); }).first, 202);
  host_->create_item(u"DICT CUST", u"NAME", u"again");
  EXPECT_EQ(read(u"DICT CUST", u"NAME"), u"again");
  write(u"MD", u"CUST", u"F\r\nCUST\r\nDICT CUST\r\nnote");  // a file pointer may be rewritten
  EXPECT_EQ(read(u"MD", u"CUST"), u"F\r\nCUST\r\nDICT CUST\r\nnote");
  EXPECT_EQ(stat(u"MD", u"CUST"), u"16\r\n0");
}

// Conditional changes are checked and made in one transaction: a condition that does not hold
// changes nothing; the refusals of plain writes and deletes still apply.
TEST_F(EmbeddedHost, ConditionalChangesCheckTheTagOfTheStoredText) {
  write(u"CUST", u"C1", u"OLD");
  const text fresh = u"NEW";
  const item_condition on_old{false, false, {item_tag(u"OLD")}, {}};
  const item_condition create_only{false, true, {}, {}};
  EXPECT_FALSE(host_->change_item_if(u"CUST", u"C1", &fresh, create_only));
  EXPECT_TRUE(host_->change_item_if(u"CUST", u"C1", &fresh, on_old));
  EXPECT_EQ(read(u"CUST", u"C1"), u"NEW");
  EXPECT_FALSE(host_->change_item_if(u"CUST", u"C1", &fresh, on_old));  // the tag is stale now
  EXPECT_FALSE(host_->change_item_if(u"CUST", u"C1", nullptr, on_old));
  EXPECT_EQ(read(u"CUST", u"C1"), u"NEW");
  EXPECT_TRUE(host_->change_item_if(u"CUST", u"C2", &fresh, create_only));
  EXPECT_EQ(read(u"CUST", u"C2"), u"NEW");
  const item_condition on_new{false, false, {item_tag(u"NEW")}, {}};
  EXPECT_TRUE(host_->change_item_if(u"CUST", u"C2", nullptr, on_new));
  EXPECT_EQ(failure_of([&] { read(u"CUST", u"C2"); }).first, 202);
  const item_condition not_new{false, false, {}, {item_tag(u"NEW")}};
  EXPECT_EQ(failure_of([&] { host_->change_item_if(u"CUST", u"C2", nullptr, not_new); }).first,
            202);
  EXPECT_EQ(failure_of([&] { host_->change_item_if(u"MD", u"CUST", nullptr, {}); }).first, 207);
  EXPECT_EQ(failure_of([&] { host_->change_item_if(u"NOPE", u"X", &fresh, {}); }).first, 200);
}

// Every host error number with its description (an empty description: the number alone).
TEST_F(EmbeddedHost, FailuresGiveTheirErrorNumberAndDescription) {
  write(u"CUST", u"C1", u"FIRST");
  struct row {
    std::function<void()> call;
    int number;
    std::string description;
  };
  const std::vector<row> rows = {
      {[&] { read(u"NOPE", u"C1"); }, 200, "File 'NOPE' not found in account 'SALES'."},
      {[&] { write(u"DICT NOPE", u"C1", u"x"); }, 200,
       "File 'DICT NOPE' not found in account 'SALES'."},
      {[&] { host_->create_item(u"CUST,NOPE", u"C1", u"x"); }, 200, ""},
      {[&] { host_->delete_item(u"CUST,CUST", u"C1"); }, 200, ""},
      {[&] { stat(u"NOPE", u"C1"); }, 200, ""},
      {[&] { list(u"NOPE"); }, 200, ""},
      {[&] { call(u"FTFSCMD", u"COPY", u"NOPE\r\nC1\r\nto\r\nC2"); }, 200, ""},
      {[&] { connected(u"NOPE**c"); }, 201, "Account 'NOPE' not found."},
      {[&] { read(u"CUST", u"C9"); }, 202, "Item 'C9' not found in file 'CUST'."},
      {[&] { read(u"DICT CUST", u"HIST"); }, 202,
       "Item 'HIST' not found in file 'DICT CUST': 'HIST' is a data section of the file, not "
       "an item."},
      {[&] { host_->delete_item(u"DICT CUST", u"NAME"); }, 202,
       "Item 'NAME' not found in file 'DICT CUST'."},
      {[&] { stat(u"CUST", u"NONE"); }, 202, ""},
      {[&] { stat(u"CUST", u"HIST"); }, 202, ""},  // only the dictionary shows sections
      {[&] { call(u"FTFSCMD", u"COPY", u"CUST\r\nNONE\r\nto\r\nC2"); }, 202, ""},
      {[&] { write(u"CUST", u"A\xF8FD" u"B", u"x"); }, 203,
       "Invalid item id 'A\\uF8FDB' in file 'CUST' (empty, or holding CR, LF or a mark)."},
      {[&] { read(u"", u"C1"); }, 203,
       "Invalid file name '' (empty, or holding CR, LF or a mark)."},
      {[&] { call(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\n\r\n"); }, 203,
       "COPY of item 'C1' in file 'CUST' needs the option 'to' (the new item id)."},
      {[&] { call(u"FTFSCMD", u"COPY", u""); }, 203, ""},
      {[&] { host_->create_item(u"CUST", u"C1", u"SECOND"); }, 204,
       "Item 'C1' already exists in file 'CUST'."},
      {[&] { host_->create_item(u"MD", u"CUST", u""); }, 204, ""},
      {[&] { call(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC1"); }, 204, ""},
      {[&] { call(u"FOO", u"", u""); }, 205, "Unknown subroutine 'FOO'."},
      {[&] { call(u"FTFSCMD", u"LIST", u"CUST\r\nC1"); }, 205,
       "Unknown command 'LIST' for subroutine FTFSCMD."},
      {[&] { call(u"echo", u"", u"x"); }, 205, ""},
      {[&] { host_->delete_item(u"MD", u"CUST"); }, 207,
       "Item 'CUST' in file 'MD' is the pointer of file 'CUST' and cannot be deleted."},
      {[&] { host_->delete_item(u"MD", u"MD"); }, 207, ""},
      {[&] { host_->delete_item(u"DICT CUST", u"HIST"); }, 207, ""},
      {[&] { write(u"DICT CUST", u"HIST", u"x"); }, 207,
       "Item 'HIST' cannot be written in file 'DICT CUST': it names a data section of the "
       "file."},
  };
  for (std::size_t i = 0; i < rows.size(); ++i) {
    SCOPED_TRACE(i);
    const auto [number, description] = failure_of(rows[i].call);
    EXPECT_EQ(number, rows[i].number);
    if (!rows[i].description.empty()) {
      EXPECT_EQ(description, rows[i].description);
    }
  }
  // Nothing a failure touched has changed.
  EXPECT_EQ(read(u"CUST", u"C1"), u"FIRST");
  EXPECT_EQ(read(u"MD", u"CUST"), u"F\r\nCUST\r\nDICT CUST");
  EXPECT_EQ(stat(u"MD", u"CUST"), u"16\r\n0");
  EXPECT_EQ(list(u"CUST,HIST"), u"CUST,HIST\r\n");
  EXPECT_EQ(list(u"CUST"), listing(u"CUST", {u"C1|0|5"}));
}

TEST_F(EmbeddedHost, InvalidNamesAre203ForEveryOperation) {
  // Each name rule is pinned in item_codec_test.cc; here every operation applies them.
  for (const text& name : {text(), text(u"A\rB"), text(u"A\nB"), text(u"A\xF8FD" u"B"),
                           text(u"\xF8FB")}) {
    SCOPED_TRACE(to_utf8(name));
    EXPECT_EQ(failure_of([&] { read(u"CUST", name); }).first, 203);
    EXPECT_EQ(failure_of([&] { write(u"CUST", name, u"x"); }).first, 203);
    EXPECT_EQ(failure_of([&] { host_->create_item(u"CUST", name, u"x"); }).first, 203);
    EXPECT_EQ(failure_of([&] { host_->delete_item(u"CUST", name); }).first, 203);
    EXPECT_EQ(failure_of([&] { stat(u"CUST", name); }).first, 203);
    EXPECT_EQ(failure_of([&] { read(name, u"C1"); }).first, 203);
    EXPECT_EQ(failure_of([&] { list(name); }).first, 203);
  }
  EXPECT_EQ(list(u"CUST"), u"CUST\r\n") << "nothing was stored";
}

TEST_F(EmbeddedHost, UnreadableDatabaseIs206) {
  std::ofstream(root_ + "/BROKEN.db", std::ios::binary) << std::string(8192, 'G');
  const auto [number, description] = failure_of([&] { connected(u"BROKEN**"); });
  EXPECT_EQ(number, 206);
  EXPECT_TRUE(description.starts_with("Storage failure in account 'BROKEN': ")) << description;
  std::ofstream(root_ + "/EMPTY.db", std::ios::binary).close();
  EXPECT_EQ(failure_of([&] { connected(u"EMPTY**"); }),
            (failure{206, "Storage failure in account 'EMPTY': the database is not an account "
                          "database of this host."}));
}

// ---- stat_item and list_items

// Data items of every kind are measured in ContentRoundTripsLosslessly.
TEST_F(EmbeddedHost, StatGivesAttributesAndUtf8SizeInEveryFile) {
  write(u"DICT CUST", u"@ID", u"D\r\n0");
  write(u"MD", u"VERB", u"V\r\n\u00E9");
  EXPECT_EQ(stat(u"DICT CUST", u"@ID"), u"0\r\n4");
  EXPECT_EQ(stat(u"MD", u"VERB"), u"0\r\n5");
  for (const auto& [file, id] : std::vector<std::pair<text, text>>{
           {u"MD", u"CUST"}, {u"MD", u"MD"}, {u"DICT CUST", u"CUST"}, {u"DICT CUST", u"HIST"},
           {u"DICT MD", u"MD"}}) {
    EXPECT_EQ(stat(file, id), u"16\r\n0") << to_utf8(file + u"/" + id);
  }
}

// File pointers and data sections are directories (16, size 0); entries are in UTF-8 byte order.
TEST_F(EmbeddedHost, ListingLayoutsOrderCountAndAttributeFilter) {
  write(u"MD", u"X1", u"abc");
  write(u"MD", u"LIST", u"PA\r\nLIST CUST");
  write(u"DICT CUST", u"NAME", u"D\r\n1");
  write(u"DICT CUST", u"@ID", u"D\r\n0");
  write(u"DICT CUST", u"DATE", u"D");
  for (const text id : {u"b", u"\u00E9", u"B", u"10", u"9", u"a", u"\xD83D\xDE00", u"\xFFFF"}) {
    write(u"CUST", id, u"xy");
  }
  const text all_data = listing(u"CUST", {u"10|0|2", u"9|0|2", u"B|0|2", u"a|0|2", u"b|0|2",
                                          u"\u00E9|0|2", u"\xFFFF|0|2", u"\xD83D\xDE00|0|2"});
  struct row {
    text file;
    std::int32_t attribute;
    std::int32_t max_count;
    text expected;
  };
  const std::vector<row> rows = {
      {u"MD", 0, 0, listing(u"MD", {u"CUST|16|0", u"LIST|0|13", u"MD|16|0", u"X1|0|3"})},
      {u"DICT CUST", 0, 0,
       listing(u"DICT CUST",
               {u"@ID|0|4", u"CUST|16|0", u"DATE|0|1", u"HIST|16|0", u"NAME|0|4"})},
      {u"CUST", 0, 0, all_data},
      {u"CUST", 0, 8, all_data},
      {u"CUST", 0, 9, all_data},
      {u"CUST", 0, -5, all_data},
      {u"CUST", 0, 2, listing(u"CUST", {u"10|0|2", u"9|0|2"})},
      {u"CUST", 16, 0, u"CUST\r\n"},
      {u"CUST", 1, 0, u"CUST\r\n"},
      {u"CUST", -16, 1, listing(u"CUST", {u"10|0|2"})},
      {u"CUST,HIST", 0, 0, u"CUST,HIST\r\n"},
      {u"DICT CUST", 16, 0, listing(u"DICT CUST", {u"CUST|16|0", u"HIST|16|0"})},
      {u"DICT CUST", 16, 1, listing(u"DICT CUST", {u"CUST|16|0"})},
      {u"DICT CUST", 0, 2, listing(u"DICT CUST", {u"@ID|0|4", u"CUST|16|0"})},
      {u"DICT CUST", 48, 0, u"DICT CUST\r\n"},
      {u"MD", 16, 0, listing(u"MD", {u"CUST|16|0", u"MD|16|0"})},
      {u"MD", 16, 1, listing(u"MD", {u"CUST|16|0"})},
  };
  for (const row& r : rows) {
    EXPECT_EQ(list(r.file, r.attribute, r.max_count), r.expected)
        << to_utf8(r.file) << " " << r.attribute << " " << r.max_count;
  }
}

// ---- call_subroutine

TEST_F(EmbeddedHost, EchoSubroutinesAnswerTheirArguments) {
  const text argument = text(u"A\r\nB") + vm + u"C" + text(1, u'\0') + sm;
  EXPECT_EQ(call(u"ECHO", u"", argument), argument);
  EXPECT_EQ(call(u"ECHO", u"ignored", u""), u"");
  const text parameters = text(u"CUST\r\nC1\r\na") + vm + u"b\r\n1" + vm + u"x";
  EXPECT_EQ(call(u"FTFSCMD", u"ECHO", parameters), u"ECHO\r\n" + parameters);
}

// A rename was a create and a delete in separate transactions: refused at the delete (the MD
// pointer of a file, 207) it left the copy behind, and a crash in between left the item twice.
TEST_F(EmbeddedHost, MoveIsOneStepAndARefusedMoveChangesNothing) {
  write(u"CUST", u"C1", u"FIRST");
  write(u"CUST", u"C2", u"SECOND");
  write(u"DICT CUST", u"D1", u"dictionary item");
  const auto snapshot = [&] { return list(u"MD") + list(u"DICT CUST") + list(u"CUST"); };
  const text before = snapshot();
  const struct {
    text file, from, to;
    int number;
    std::string description;
  } refusals[] = {
      {u"NOPE", u"C1", u"C3", 200, ""},
      {u"CUST", u"C9", u"C3", 202, "Item 'C9' not found in file 'CUST'."},
      {u"DICT CUST", u"HIST", u"X", 202, ""},  // a section's entry is no item
      {u"CUST", u"C9", u"", 202, ""},          // the read comes first, as in the single calls
      {u"CUST", u"C1", u"", 203, ""},
      {u"CUST", u"", u"C3", 203, ""},  // an invalid id of `from` is refused as such
      {u"CUST", u"C\r1", u"C3", 203, ""},
      {u"CUST", u"C1", u"C2", 204, "Item 'C2' already exists in file 'CUST'."},
      {u"DICT CUST", u"D1", u"HIST", 207,
       "Item 'HIST' cannot be written in file 'DICT CUST': it names a data section of the "
       "file."},
      {u"MD", u"CUST", u"G", 207,
       "Item 'CUST' in file 'MD' is the pointer of file 'CUST' and cannot be deleted."},
  };
  for (const auto& r : refusals) {
    SCOPED_TRACE(to_utf8(r.file + u" " + r.from + u" -> " + r.to));
    const auto [number, description] =
        failure_of([&] { host_->move_item(r.file, r.from, r.to, false, {}); });
    EXPECT_EQ(number, r.number);
    if (!r.description.empty()) {
      EXPECT_EQ(description, r.description);
    }
    EXPECT_EQ(snapshot(), before);
  }
  host_->move_item(u"CUST", u"C1", u"C1", false, {});  // onto itself: only checks that it exists
  EXPECT_EQ(snapshot(), before);
  host_->move_item(u"CUST", u"C1", u"C3", false, {});
  EXPECT_EQ(list(u"CUST"), listing(u"CUST", {u"C2|0|6", u"C3|0|5"}));
  EXPECT_EQ(read(u"CUST", u"C3"), u"FIRST");
  host_->move_item(u"CUST", u"C3", u"C2", true, {});  // replaces the target
  EXPECT_EQ(list(u"CUST"), listing(u"CUST", {u"C2|0|5"}));
  EXPECT_EQ(read(u"CUST", u"C2"), u"FIRST");
  host_->copy_item(u"CUST", u"C2", u"C4", false, {});
  EXPECT_EQ(failure_of([&] { host_->copy_item(u"CUST", u"C2", u"C4", false, {}); }).first, 204);
  EXPECT_EQ(list(u"CUST"), listing(u"CUST", {u"C2|0|5", u"C4|0|5"}));
}

TEST_F(EmbeddedHost, FtfscmdCopyCopiesWithinTheFile) {
  write(u"CUST", u"C1", u"NAME\r\nADDR");
  EXPECT_EQ(call(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC2"), u"1 item copied.\r\nC2");
  EXPECT_EQ(read(u"CUST", u"C2"), u"NAME\r\nADDR");
  EXPECT_EQ(failure_of([&] { call(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC2"); }),
            (failure{204, "Item 'C2' already exists in file 'CUST'."}));
  write(u"CUST", u"C1", u"CHANGED");
  const text overwrite = text(u"CUST\r\nC1\r\noverwrite") + vm + u"to\r\n1" + vm + u"C2";
  EXPECT_EQ(call(u"FTFSCMD", u"COPY", overwrite), u"1 item copied.\r\nC2");
  EXPECT_EQ(read(u"CUST", u"C2"), u"CHANGED");
  const text not_overwrite = text(u"CUST\r\nC1\r\nto") + vm + u"overwrite\r\nC2" + vm + u"0";
  EXPECT_EQ(failure_of([&] { call(u"FTFSCMD", u"COPY", not_overwrite); }).first, 204);
  // The server copies file name and item id into the parameter text one byte per unit.
  write(u"CUST", u"\u00C9T\u00C9", u"summer");
  text bytes_as_units;
  for (unsigned char byte : to_utf8(u"\u00C9T\u00C9")) bytes_as_units.push_back(byte);
  EXPECT_EQ(call(u"FTFSCMD", u"COPY", u"CUST\r\n" + bytes_as_units + u"\r\nto\r\nSOMMER"),
            u"1 item copied.\r\nSOMMER");
  EXPECT_EQ(read(u"CUST", u"SOMMER"), u"summer");
}

}  // namespace
}  // namespace ombrix
