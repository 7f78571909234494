#include "host/embedded/embedded_host.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "host/embedded/account_store.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

using testing::failure_of;

constexpr char16_t vm = value_mark;
constexpr char16_t sm = subvalue_mark;

// Readable text for failure messages.
std::string shown(const text& value) {
  std::string out;
  for (char16_t unit : value) {
    if (unit >= 0x20 && unit < 0x7F) {
      out.push_back(static_cast<char>(unit));
    } else {
      char buffer[10];
      snprintf(buffer, sizeof buffer, "\\u%04X", static_cast<unsigned>(unit));
      out += buffer;
    }
  }
  return out;
}

// An account SALES with file CUST (sections CUST and HIST), connected as a host object.
class EmbeddedHost : public testing::temporary_data_root {
 protected:
  void SetUp() override {
    temporary_data_root::SetUp();
    make_account(u"SALES");
    auto store = account_store::open(root_, u"SALES");
    store->create_file(u"CUST", {u"HIST"});
    host_ = connected(u"SALES**test");
  }

  std::unique_ptr<embedded_host> connected(const text& server) {
    auto host = std::make_unique<embedded_host>();
    host->connect(server);
    return host;
  }

  std::unique_ptr<embedded_host> host_;
};

// ---- connect and properties

TEST_F(EmbeddedHost, ConnectReachesTheAccountTheServerTextNames) {
  make_account(u"MAIN");
  make_account(u"beta");
  const std::vector<std::pair<text, text>> rows = {
      {u"**", u"MAIN"},         {u"**vscode", u"MAIN"},    {u"SALES**", u"SALES"},
      {u"SALES**c", u"SALES"},  {u"alpha*beta*c", u"beta"}, {u"SALES", u"SALES"},
  };
  for (const auto& [server, account] : rows) {
    auto host = connected(server);
    EXPECT_EQ(host->get_server_name(), account) << shown(server);
    EXPECT_EQ(host->get_property_3(), account) << shown(server);
  }
}

TEST_F(EmbeddedHost, DefaultAccountFollowsOmbrixAccount) {
  setenv("OMBRIX_ACCOUNT", "SALES", 1);
  EXPECT_EQ(connected(u"**vscode")->get_property_3(), u"SALES");
  unsetenv("OMBRIX_ACCOUNT");
  EXPECT_EQ(failure_of([&] { connected(u"**"); }),
            (std::pair<int, std::string>{201, "Account 'MAIN' not found."}));
  make_account(u"MAIN");
  EXPECT_EQ(connected(u"**")->get_property_3(), u"MAIN");
}

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

TEST_F(EmbeddedHost, MissingAccountIs201) {
  EXPECT_EQ(failure_of([&] { connected(u"NOPE**c"); }),
            (std::pair<int, std::string>{201, "Account 'NOPE' not found."}));
}

TEST_F(EmbeddedHost, InvalidAccountNamesAre201AndNeverBecomePaths) {
  const std::vector<text> servers = {
      u"../x**",       u"a/b**",          u"..**",         u".hidden**",
      u"/etc/passwd**", u"a\\b**",        text(65, u'A') + u"**", u"\u00E9t\u00E9**",
      u"a b**",         text(u"a") + text(1, u'\0') + u"b**",
  };
  const auto before = std::distance(std::filesystem::directory_iterator(base_),
                                    std::filesystem::directory_iterator());
  for (const text& server : servers) {
    const auto [number, description] = failure_of([&] { connected(server); });
    EXPECT_EQ(number, 201) << shown(server);
    EXPECT_TRUE(description.ends_with("' is not a valid account name.")) << description;
  }
  EXPECT_EQ(failure_of([&] { account_store::open(root_, u""); }).first, 201);
  // Nothing appeared beside the data root or in it.
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(base_),
                          std::filesystem::directory_iterator()),
            before);
  for (const auto& entry : std::filesystem::directory_iterator(root_)) {
    EXPECT_EQ(entry.path().filename().string().rfind("SALES.db", 0), 0u) << entry.path();
  }
}

TEST_F(EmbeddedHost, SixtyFourCharacterAccountNameWorks) {
  const text name(64, u'B');
  make_account(name);
  EXPECT_EQ(connected(name + u"**")->get_property_3(), name);
}

TEST_F(EmbeddedHost, DataRootIsCreatedOnFirstUse) {
  const std::string nested = (base_ / "a" / "b").string();
  setenv("OMBRIX_DATA", nested.c_str(), 1);
  EXPECT_EQ(failure_of([&] { connected(u"SALES**"); }).first, 201);
  EXPECT_TRUE(std::filesystem::is_directory(nested));
}

TEST_F(EmbeddedHost, OperationsBeforeConnectFailWithEPointer) {
  embedded_host host;
  try {
    host.read_item(u"CUST", u"C1", 0, 0, 0, 0);
    FAIL() << "no error";
  } catch (const _com_error& error) {
    EXPECT_EQ(error.Error(), e_pointer);
  }
  EXPECT_THROW(host.get_server_name(), _com_error);
  EXPECT_THROW(host.list_items(u"MD", 0, 0, u"", u"-1"), _com_error);
  EXPECT_NO_THROW(host.quit());
}

TEST_F(EmbeddedHost, UncalledOperationsAreNotImplemented) {
  const std::vector<std::function<void()>> calls = {
      [&] { host_->query_flag_1(u"a"); },
      [&] { host_->query_flag_2(u"a", u"b"); },
      [&] { host_->invoke_pair(u"a", u"b"); },
      [&] { host_->query_text_1(u"a", u"b", 0); },
      [&] { host_->query_text_2(1, u"a"); },
  };
  for (const auto& call : calls) {
    try {
      call();
      ADD_FAILURE() << "no error";
    } catch (const _com_error& error) {
      EXPECT_EQ(error.Error(), e_notimpl);
    }
  }
}

// ---- read_item, write_item, create_item

TEST_F(EmbeddedHost, WriteCreatesAndReplaces) {
  host_->write_item(u"CUST", u"C1", u"NAME\r\nADDR", 0, 0, 0, 0);
  EXPECT_EQ(host_->read_item(u"CUST", u"C1", 0, 0, 0, 0), u"NAME\r\nADDR");
  host_->write_item(u"CUST", u"C1", u"NEW", 0, 0, 0, 0);
  EXPECT_EQ(host_->read_item(u"CUST", u"C1", 0, 0, 0, 0), u"NEW");
  EXPECT_EQ(host_->stat_item(u"CUST", u"C1", u"-1\xF8FD-2"), u"0\r\n3");
}

TEST_F(EmbeddedHost, ItemsAreVisibleToEveryHostObjectOfTheAccount) {
  host_->write_item(u"CUST,HIST", u"H1", u"2024", 0, 0, 0, 0);
  EXPECT_EQ(connected(u"SALES**other")->read_item(u"CUST,HIST", u"H1", 0, 0, 0, 0), u"2024");
  EXPECT_EQ(failure_of([&] { host_->read_item(u"CUST", u"H1", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{202, "Item 'H1' not found in file 'CUST'."}));
}

TEST_F(EmbeddedHost, ContentRoundTripsLosslessly) {
  text every_unit;
  for (std::uint32_t unit = 0; unit <= 0xFFFF; ++unit) every_unit.push_back(char16_t(unit));
  const std::vector<text> contents = {
      u"",
      u"A\r\nB\xF8FD" u"C\xF8FC" u"D",
      text(u"A") + text(1, u'\0') + u"B" + text(1, u'\0'),
      u"bare\rCR and bare\nLF\r",
      text{char16_t(0xD800)},
      text{u'x', char16_t(0xDFFF)},
      text{char16_t(0xDE00), char16_t(0xD83D)},
      u"\xD83D\xDE00",
      u"\xF8FB\xF8FC\xF8FD\xF8FE\xF8FF",
      u"\xFEFF\xFFFE\xFFFF",
      every_unit,
      text(300000, u'\x4E2D'),
  };
  for (std::size_t i = 0; i < contents.size(); ++i) {
    const text id = from_utf8(std::string("L") + std::to_string(i));
    host_->write_item(u"CUST", id, contents[i], 0, 0, 0, 0);
    EXPECT_EQ(connected(u"SALES**")->read_item(u"CUST", id, 0, 0, 0, 0), contents[i]) << i;
    EXPECT_EQ(host_->stat_item(u"CUST", id, u"-1\xF8FD-2"),
              u"0\r\n" + from_utf8(std::to_string(to_utf8(contents[i]).size())))
        << i;
  }
}

TEST_F(EmbeddedHost, IdsRoundTripLosslesslyThroughListings) {
  const std::vector<text> ids = {u"a b", u"\u00E9", text{u'x', u'\0', u'y'},
                                 text{char16_t(0xD800)}, u"\xD83D\xDE00", u"*", u"."};
  for (const text& id : ids) host_->write_item(u"CUST,HIST", id, id, 0, 0, 0, 0);
  auto store = account_store::open(root_, u"SALES");
  std::vector<text> listed;
  for (const auto& entry : store->entries(u"CUST,HIST", 0, 0)) {
    listed.push_back(entry.name);
    EXPECT_EQ(host_->read_item(u"CUST,HIST", entry.name, 0, 0, 0, 0), entry.name);
  }
  EXPECT_EQ(listed.size(), ids.size());
  for (const text& id : ids) EXPECT_NE(std::find(listed.begin(), listed.end(), id), listed.end());
}

TEST_F(EmbeddedHost, CreateOnAnExistingItemIs204) {
  host_->create_item(u"CUST", u"C1", u"FIRST");
  EXPECT_EQ(failure_of([&] { host_->create_item(u"CUST", u"C1", u"SECOND"); }),
            (std::pair<int, std::string>{204, "Item 'C1' already exists in file 'CUST'."}));
  EXPECT_EQ(host_->read_item(u"CUST", u"C1", 0, 0, 0, 0), u"FIRST");
  EXPECT_EQ(failure_of([&] { host_->create_item(u"MD", u"CUST", u""); }).first, 204);
}

TEST_F(EmbeddedHost, CreateWithNullContentThenWriteAsGeneration71Does) {
  host_->create_item(u"CUST", u"C7", text());
  EXPECT_EQ(host_->read_item(u"CUST", u"C7", 0, 0, 0, 0), u"");
  EXPECT_EQ(host_->stat_item(u"CUST", u"C7", u"-1\xF8FD-2"), u"0\r\n0");
  host_->write_item(u"CUST", u"C7", u"DATA", 0, 0, 0, 0);
  EXPECT_EQ(host_->read_item(u"CUST", u"C7", 0, 0, 0, 0), u"DATA");
}

TEST_F(EmbeddedHost, MissingFileAndItemAre200And202) {
  EXPECT_EQ(failure_of([&] { host_->read_item(u"NOPE", u"C1", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{200, "File 'NOPE' not found in account 'SALES'."}));
  EXPECT_EQ(failure_of([&] { host_->write_item(u"DICT NOPE", u"C1", u"x", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{200, "File 'DICT NOPE' not found in account 'SALES'."}));
  EXPECT_EQ(failure_of([&] { host_->create_item(u"CUST,NOPE", u"C1", u"x"); }).first, 200);
  EXPECT_EQ(failure_of([&] { host_->delete_item(u"CUST,CUST", u"C1"); }).first, 200);
  EXPECT_EQ(failure_of([&] { host_->stat_item(u"NOPE", u"C1", u"-1"); }).first, 200);
  EXPECT_EQ(failure_of([&] { host_->list_items(u"NOPE", 0, 0, u"", u"-1"); }).first, 200);
  EXPECT_EQ(failure_of([&] { host_->read_item(u"CUST", u"C9", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{202, "Item 'C9' not found in file 'CUST'."}));
  EXPECT_EQ(failure_of([&] { host_->read_item(u"DICT CUST", u"HIST", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{
                202, "Item 'HIST' not found in file 'DICT CUST': 'HIST' is a data section of "
                     "the file, not an item."}));
}

TEST_F(EmbeddedHost, InvalidNamesAre203ForEveryOperation) {
  const std::vector<text> bad_ids = {u"", u"A\rB", u"A\nB", u"A\r\n", u"A\xF8FD" u"B",
                                     u"\xF8FC", u"\xF8FE", u"\xF8FF", u"\xF8FB"};
  for (const text& id : bad_ids) {
    const std::vector<std::function<void()>> calls = {
        [&] { host_->read_item(u"CUST", id, 0, 0, 0, 0); },
        [&] { host_->write_item(u"CUST", id, u"x", 0, 0, 0, 0); },
        [&] { host_->create_item(u"CUST", id, u"x"); },
        [&] { host_->delete_item(u"CUST", id); },
        [&] { host_->stat_item(u"CUST", id, u"-1"); },
    };
    for (const auto& call : calls) EXPECT_EQ(failure_of(call).first, 203) << shown(id);
    EXPECT_EQ(failure_of([&] { host_->read_item(id, u"C1", 0, 0, 0, 0); }).first, 203);
    EXPECT_EQ(failure_of([&] { host_->list_items(id, 0, 0, u"", u"-1"); }).first, 203);
  }
  EXPECT_EQ(failure_of([&] { host_->write_item(u"CUST", u"A\xF8FD" u"B", u"x", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{
                203, "Invalid item id 'A\\uF8FDB' in file 'CUST' (empty, or holding CR, LF or "
                     "a mark)."}));
  EXPECT_EQ(failure_of([&] { host_->read_item(u"", u"C1", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{
                203, "Invalid file name '' (empty, or holding CR, LF or a mark)."}));
  EXPECT_EQ(host_->list_items(u"CUST", 0, 0, u"", u"-1"), u"CUST\r\n") << "nothing was stored";
}

// ---- delete_item

TEST_F(EmbeddedHost, DeleteRemovesTheItem) {
  host_->write_item(u"DICT CUST", u"NAME", u"D\r\n1", 0, 0, 0, 0);
  host_->delete_item(u"DICT CUST", u"NAME");
  EXPECT_EQ(failure_of([&] { host_->read_item(u"DICT CUST", u"NAME", 0, 0, 0, 0); }).first, 202);
  EXPECT_EQ(failure_of([&] { host_->delete_item(u"DICT CUST", u"NAME"); }),
            (std::pair<int, std::string>{202, "Item 'NAME' not found in file 'DICT CUST'."}));
  host_->create_item(u"DICT CUST", u"NAME", u"again");
  EXPECT_EQ(host_->read_item(u"DICT CUST", u"NAME", 0, 0, 0, 0), u"again");
}

TEST_F(EmbeddedHost, DeletingAFilePointerIs207) {
  EXPECT_EQ(failure_of([&] { host_->delete_item(u"MD", u"CUST"); }),
            (std::pair<int, std::string>{
                207, "Item 'CUST' in file 'MD' is the pointer of file 'CUST' and cannot be "
                     "deleted."}));
  EXPECT_EQ(failure_of([&] { host_->delete_item(u"MD", u"MD"); }).first, 207);
  EXPECT_EQ(failure_of([&] { host_->delete_item(u"DICT CUST", u"HIST"); }).first, 207);
  EXPECT_EQ(failure_of([&] { host_->write_item(u"DICT CUST", u"HIST", u"x", 0, 0, 0, 0); }),
            (std::pair<int, std::string>{
                207, "Item 'HIST' cannot be written in file 'DICT CUST': it names a data section "
                     "of the file."}));
  // The file is still there, pointer and all.
  EXPECT_EQ(host_->stat_item(u"MD", u"CUST", u"-1\xF8FD-2"), u"16\r\n0");
  EXPECT_EQ(host_->read_item(u"MD", u"CUST", 0, 0, 0, 0), u"F\r\nCUST\r\nDICT CUST");
  host_->write_item(u"CUST,HIST", u"H", u"x", 0, 0, 0, 0);
}

TEST_F(EmbeddedHost, WritingAFilePointerKeepsTheFile) {
  host_->write_item(u"MD", u"CUST", u"F\r\nCUST\r\nDICT CUST\r\nnote", 0, 0, 0, 0);
  EXPECT_EQ(host_->stat_item(u"MD", u"CUST", u"-1"), u"16\r\n0");
  EXPECT_EQ(host_->read_item(u"MD", u"CUST", 0, 0, 0, 0), u"F\r\nCUST\r\nDICT CUST\r\nnote");
}

// ---- stat_item

TEST_F(EmbeddedHost, StatGivesAttributesAndUtf8Size) {
  struct row {
    text file;
    text id;
    text content;  // written first unless the id is a directory
    text expected;
  };
  const std::vector<row> rows = {
      {u"CUST", u"A", u"A\r\nB", u"0\r\n4"},
      {u"CUST", u"E", u"\u00E9", u"0\r\n2"},
      {u"CUST", u"M", u"1\xF8FD" u"2", u"0\r\n5"},
      {u"CUST", u"P", u"\xD83D\xDE00", u"0\r\n4"},
      {u"CUST", u"S", text{char16_t(0xDC00)}, u"0\r\n3"},
      {u"CUST", u"Z", text(1, u'\0'), u"0\r\n1"},
      {u"DICT CUST", u"@ID", u"D\r\n0", u"0\r\n4"},
      {u"MD", u"VERB", u"V\r\nX", u"0\r\n4"},
  };
  for (const row& r : rows) {
    host_->write_item(r.file, r.id, r.content, 0, 0, 0, 0);
    EXPECT_EQ(host_->stat_item(r.file, r.id, u"-1\xF8FD-2"), r.expected) << shown(r.id);
  }
  const std::vector<std::pair<text, text>> directories = {
      {u"MD", u"CUST"}, {u"MD", u"MD"}, {u"DICT CUST", u"CUST"}, {u"DICT CUST", u"HIST"},
      {u"DICT MD", u"MD"}};
  for (const auto& [file, id] : directories) {
    EXPECT_EQ(host_->stat_item(file, id, u"-1\xF8FD-2"), u"16\r\n0") << shown(file + u"/" + id);
  }
  EXPECT_EQ(failure_of([&] { host_->stat_item(u"CUST", u"NONE", u"-1"); }).first, 202);
  EXPECT_EQ(failure_of([&] { host_->stat_item(u"CUST", u"HIST", u"-1"); }).first, 202)
      << "only the dictionary shows sections";
}

// ---- list_items

TEST_F(EmbeddedHost, MasterDictionaryListsFilePointersAsDirectories) {
  host_->write_item(u"MD", u"X1", u"abc", 0, 0, 0, 0);
  host_->write_item(u"MD", u"LIST", u"PA\r\nLIST CUST", 0, 0, 0, 0);
  const text expected = text(u"MD\r\n") + u"CUST" + sm + u"16" + sm + u"0" + vm + u"LIST" + sm +
                        u"0" + sm + u"13" + vm + u"MD" + sm + u"16" + sm + u"0" + vm + u"X1" +
                        sm + u"0" + sm + u"3";
  EXPECT_EQ(host_->list_items(u"MD", 0, 0, text(), u"-1"), expected)
      << shown(host_->list_items(u"MD", 0, 0, text(), u"-1"));
}

TEST_F(EmbeddedHost, DictionaryListsItsItemsAndDataSectionsInByteOrder) {
  host_->write_item(u"DICT CUST", u"NAME", u"D\r\n1", 0, 0, 0, 0);
  host_->write_item(u"DICT CUST", u"@ID", u"D\r\n0", 0, 0, 0, 0);
  host_->write_item(u"DICT CUST", u"DATE", u"D", 0, 0, 0, 0);
  const text expected = text(u"DICT CUST\r\n") + u"@ID" + sm + u"0" + sm + u"4" + vm + u"CUST" +
                        sm + u"16" + sm + u"0" + vm + u"DATE" + sm + u"0" + sm + u"1" + vm +
                        u"HIST" + sm + u"16" + sm + u"0" + vm + u"NAME" + sm + u"0" + sm + u"4";
  EXPECT_EQ(host_->list_items(u"DICT CUST", 0, 0, text(), u"-1"), expected)
      << shown(host_->list_items(u"DICT CUST", 0, 0, text(), u"-1"));
}

TEST_F(EmbeddedHost, DataSectionListsItemsInUtf8ByteOrder) {
  for (const text id : {u"b", u"\u00E9", u"B", u"10", u"9", u"a", u"\xD83D\xDE00", u"\xFFFF"}) {
    host_->write_item(u"CUST", id, u"xy", 0, 0, 0, 0);
  }
  text expected = u"CUST\r\n";
  bool first = true;
  for (const text id : {u"10", u"9", u"B", u"a", u"b", u"\u00E9", u"\xFFFF", u"\xD83D\xDE00"}) {
    if (!first) expected += vm;
    first = false;
    expected += id + sm + u"0" + sm + u"2";
  }
  EXPECT_EQ(host_->list_items(u"CUST", 0, 0, text(), u"-1"), expected);
  EXPECT_EQ(host_->list_items(u"CUST,HIST", 0, 0, text(), u"-1"), u"CUST,HIST\r\n");
}

TEST_F(EmbeddedHost, MaximumCountAndAttributeFilter) {
  for (const text id : {u"A", u"B", u"C"}) host_->write_item(u"CUST", id, u"1", 0, 0, 0, 0);
  host_->write_item(u"DICT CUST", u"A1", u"x", 0, 0, 0, 0);
  host_->write_item(u"DICT CUST", u"Z9", u"x", 0, 0, 0, 0);
  struct row {
    text file;
    std::int32_t attribute;
    std::int32_t max_count;
    text expected;
  };
  const text dir = text(1, sm) + u"16" + sm + u"0";
  const text one = text(1, sm) + u"0" + sm + u"1";
  const std::vector<row> rows = {
      {u"CUST", 0, 2, u"CUST\r\nA" + one + vm + u"B" + one},
      {u"CUST", 0, 3, u"CUST\r\nA" + one + vm + u"B" + one + vm + u"C" + one},
      {u"CUST", 0, 9, u"CUST\r\nA" + one + vm + u"B" + one + vm + u"C" + one},
      {u"CUST", 0, -5, u"CUST\r\nA" + one + vm + u"B" + one + vm + u"C" + one},
      {u"CUST", 16, 0, u"CUST\r\n"},
      {u"CUST", 1, 0, u"CUST\r\n"},
      {u"CUST", -16, 1, u"CUST\r\nA" + one},
      {u"DICT CUST", 16, 0, u"DICT CUST\r\nCUST" + dir + vm + u"HIST" + dir},
      {u"DICT CUST", 16, 1, u"DICT CUST\r\nCUST" + dir},
      {u"DICT CUST", 0, 2, u"DICT CUST\r\nA1" + one + vm + u"CUST" + dir},
      {u"DICT CUST", 48, 0, u"DICT CUST\r\n"},
      {u"MD", 16, 0, u"MD\r\nCUST" + dir + vm + u"MD" + dir},
      {u"MD", 16, 1, u"MD\r\nCUST" + dir},
  };
  for (const row& r : rows) {
    EXPECT_EQ(host_->list_items(r.file, r.attribute, r.max_count, text(), u"-1"), r.expected)
        << shown(r.file) << " " << r.attribute << " " << r.max_count;
  }
}

TEST_F(EmbeddedHost, ListingSizesMatchStatAndReadAfterReplacement) {
  host_->write_item(u"CUST", u"C1", u"short", 0, 0, 0, 0);
  host_->write_item(u"CUST", u"C1", u"a much longer text\r\n\u00E9", 0, 0, 0, 0);
  EXPECT_EQ(host_->list_items(u"CUST", 0, 0, text(), u"-1"),
            text(u"CUST\r\nC1") + sm + u"0" + sm + u"22");
  host_->write_item(u"CUST", u"C1", u"x", 0, 0, 0, 0);
  EXPECT_EQ(host_->list_items(u"CUST", 0, 0, text(), u"-1"),
            text(u"CUST\r\nC1") + sm + u"0" + sm + u"1");
}

// ---- call_subroutine

TEST_F(EmbeddedHost, EchoSubroutineAnswersItsSecondArgument) {
  const text argument = text(u"A\r\nB") + vm + u"C" + text(1, u'\0') + sm;
  EXPECT_EQ(host_->call_subroutine(u"ECHO", u"", argument), argument);
  EXPECT_EQ(host_->call_subroutine(u"ECHO", u"ignored", u""), u"");
}

TEST_F(EmbeddedHost, FtfscmdEchoAnswersEchoAndTheParameterText) {
  const text parameters = text(u"CUST\r\nC1\r\na") + vm + u"b\r\n1" + vm + u"x";
  EXPECT_EQ(host_->call_subroutine(u"FTFSCMD", u"ECHO", parameters), u"ECHO\r\n" + parameters);
}

TEST_F(EmbeddedHost, FtfscmdCopyCopiesWithinTheFile) {
  host_->write_item(u"CUST", u"C1", u"NAME\r\nADDR", 0, 0, 0, 0);
  EXPECT_EQ(host_->call_subroutine(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC2"),
            u"1 item copied.\r\nC2");
  EXPECT_EQ(host_->read_item(u"CUST", u"C2", 0, 0, 0, 0), u"NAME\r\nADDR");
  EXPECT_EQ(failure_of([&] {
              host_->call_subroutine(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC2");
            }),
            (std::pair<int, std::string>{204, "Item 'C2' already exists in file 'CUST'."}));
  host_->write_item(u"CUST", u"C1", u"CHANGED", 0, 0, 0, 0);
  const text overwrite = text(u"CUST\r\nC1\r\noverwrite") + vm + u"to\r\n1" + vm + u"C2";
  EXPECT_EQ(host_->call_subroutine(u"FTFSCMD", u"COPY", overwrite), u"1 item copied.\r\nC2");
  EXPECT_EQ(host_->read_item(u"CUST", u"C2", 0, 0, 0, 0), u"CHANGED");
  const text not_overwrite = text(u"CUST\r\nC1\r\nto") + vm + u"overwrite\r\nC2" + vm + u"0";
  EXPECT_EQ(failure_of([&] { host_->call_subroutine(u"FTFSCMD", u"COPY", not_overwrite); }).first,
            204);
}

TEST_F(EmbeddedHost, FtfscmdCopyReadsNamesSentAsUtf8Bytes) {
  // The server copies file name and item id into the parameter text one byte per unit.
  host_->write_item(u"CUST", u"\u00C9T\u00C9", u"summer", 0, 0, 0, 0);
  text bytes_as_units;
  for (unsigned char byte : to_utf8(u"\u00C9T\u00C9")) bytes_as_units.push_back(byte);
  EXPECT_EQ(host_->call_subroutine(u"FTFSCMD", u"COPY",
                                   u"CUST\r\n" + bytes_as_units + u"\r\nto\r\nSOMMER"),
            u"1 item copied.\r\nSOMMER");
  EXPECT_EQ(host_->read_item(u"CUST", u"SOMMER", 0, 0, 0, 0), u"summer");
}

TEST_F(EmbeddedHost, FtfscmdCopyFailures) {
  host_->write_item(u"CUST", u"C1", u"x", 0, 0, 0, 0);
  EXPECT_EQ(failure_of([&] {
              host_->call_subroutine(u"FTFSCMD", u"COPY", u"CUST\r\nNONE\r\nto\r\nC2");
            }).first,
            202);
  EXPECT_EQ(failure_of([&] {
              host_->call_subroutine(u"FTFSCMD", u"COPY", u"NOPE\r\nC1\r\nto\r\nC2");
            }).first,
            200);
  EXPECT_EQ(failure_of([&] { host_->call_subroutine(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\n\r\n"); }),
            (std::pair<int, std::string>{
                203, "COPY of item 'C1' in file 'CUST' needs the option 'to' (the new item id)."}));
  EXPECT_EQ(failure_of([&] { host_->call_subroutine(u"FTFSCMD", u"COPY", u""); }).first, 203);
  EXPECT_EQ(failure_of([&] {
              host_->call_subroutine(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC1");
            }).first,
            204);
}

TEST_F(EmbeddedHost, UnknownSubroutinesAndCommandsAre205) {
  EXPECT_EQ(failure_of([&] { host_->call_subroutine(u"FOO", u"", u""); }),
            (std::pair<int, std::string>{205, "Unknown subroutine 'FOO'."}));
  EXPECT_EQ(failure_of([&] { host_->call_subroutine(u"FTFSCMD", u"LIST", u"CUST\r\nC1"); }),
            (std::pair<int, std::string>{205, "Unknown command 'LIST' for subroutine FTFSCMD."}));
  EXPECT_EQ(failure_of([&] { host_->call_subroutine(u"echo", u"", u"x"); }).first, 205);
}

// ---- storage failures

TEST_F(EmbeddedHost, UnreadableDatabaseIs206) {
  {
    std::ofstream garbage(root_ + "/BROKEN.db", std::ios::binary);
    garbage << std::string(8192, 'G');
  }
  const auto [number, description] = failure_of([&] { connected(u"BROKEN**"); });
  EXPECT_EQ(number, 206);
  EXPECT_TRUE(description.starts_with("Storage failure in account 'BROKEN': ")) << description;
  {
    std::ofstream empty(root_ + "/EMPTY.db", std::ios::binary);
  }
  EXPECT_EQ(failure_of([&] { connected(u"EMPTY**"); }),
            (std::pair<int, std::string>{
                206, "Storage failure in account 'EMPTY': the database is not an account "
                     "database of this host."}));
  std::filesystem::create_directory(root_ + "/DIR.db");
  EXPECT_EQ(failure_of([&] { connected(u"DIR**"); }).first, 206);
}

TEST_F(EmbeddedHost, QuitLeavesTheAccountUsable) {
  host_->write_item(u"CUST", u"Q", u"kept", 0, 0, 0, 0);
  host_->quit();
  EXPECT_EQ(connected(u"SALES**")->read_item(u"CUST", u"Q", 0, 0, 0, 0), u"kept");
}

}  // namespace
}  // namespace ombrix
