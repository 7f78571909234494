// The host contract both stores keep: every kind of call the REST service makes, with the
// refusals of each, in one sequence on an account SALES with file CUST (sections CUST and HIST)
// connected as "SALES**dev". Each row gives its text or "error N: description"; in expected
// texts '|' stands for the subvalue mark and '^' for the value mark. The listings in the
// sequence also check that cached listings follow the host's own changes.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/item_tag.h"
#include "host/velquor_base.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix::testing {

using host_call = std::function<text(velquor_base&)>;

// What one call gave: its text, or its host error number and description.
inline text outcome(velquor_base& host, const host_call& call) {
  try {
    return call(host);
  } catch (const _com_error& error) {
    return from_utf8("error " + std::to_string(host_error_number(error)) + ": " +
                     to_utf8(error.Description()));
  }
}

// `expected` with each '|' made the subvalue mark and each '^' the value mark.
inline text marked(text expected) {
  for (char16_t& unit : expected) unit = unit == u'|' ? subvalue_mark : unit == u'^' ? value_mark : unit;
  return expected;
}

inline void check_host_contract(velquor_base& host) {
  const text done = u"done";
  const text lossless = text(u"\0x\r\u00E9", 4) + u'\xD800' + u" \xF8FD\xF8FC" + u"\U0001F600";
  using T = const text&;
  const auto W = [=](T f, T id, T content) -> host_call { return [=](velquor_base& h) { h.write_item(f, id, content, 0, 0, 0, 0); return done; }; };
  const auto N = [=](T f, T id, T content) -> host_call { return [=](velquor_base& h) { h.create_item(f, id, content); return done; }; };
  const auto D = [=](T f, T id) -> host_call { return [=](velquor_base& h) { h.delete_item(f, id); return done; }; };
  const auto R = [](T f, T id) -> host_call { return [=](velquor_base& h) { return h.read_item(f, id, 0, 0, 0, 0); }; };
  const auto S = [](T f, T id) -> host_call { return [=](velquor_base& h) { return h.stat_item(f, id, u"-1\xF8FD-2"); }; };
  const auto L = [](T f, int attribute, int max) -> host_call { return [=](velquor_base& h) { return h.list_items(f, attribute, max, u"", u"-1"); }; };
  const auto C = [](T name, T first, T second) -> host_call { return [=](velquor_base& h) { return h.call_subroutine(name, first, second); }; };
  const auto MV = [=](T f, T from, T to, bool replace) -> host_call {
    return [=](velquor_base& h) { h.move_item(f, from, to, replace, create_style::with_content); return done; };
  };
  const auto CP = [=](T f, T from, T to, bool overwrite) -> host_call {
    return [=](velquor_base& h) { h.copy_item(f, from, to, overwrite, create_style::with_content); return done; };
  };
  // A conditional change (content) or delete (no content).
  const auto IF = [](T f, T id, std::optional<text> content, item_condition condition) -> host_call {
    return [=](velquor_base& h) { return text(h.change_item_if(f, id, content ? &*content : nullptr, condition) ? u"yes" : u"no"); };
  };
  const item_condition any, absent{false, true, {}, {}}, present{true, false, {}, {}};
  const auto tag = [](std::u16string_view content) { return item_condition{false, false, {item_tag(content)}, {}}; };
  const auto not_tag = [](std::u16string_view content) { return item_condition{false, false, {}, {item_tag(content)}}; };
  const text params = text(u"CUST\r\nC1\r\na^b\r\n1^x");
  text bytes_as_units;  // the server copies ids into parameter texts one byte per unit
  for (unsigned char byte : to_utf8(u"\u00C9T\u00C9")) bytes_as_units.push_back(byte);
  const text invalid_id = u"(empty, or holding CR, LF or a mark).";
  const text section_written = u"error 207: Item 'HIST' cannot be written in file 'DICT CUST': it names a data section of the file.";
  const text section_entry = u"error 202: Item 'HIST' not found in file 'DICT CUST': 'HIST' is a data section of the file, not an item.";
  const text pointer_deleted = u"error 207: Item 'CUST' in file 'MD' is the pointer of file 'CUST' and cannot be deleted.";
  const struct {
    const char* what;
    host_call call;
    text expected;
  } rows[] = {
      {"names", [](velquor_base& h) { return h.get_server_name() + u" " + h.get_property_3() + u" " + h.get_property_5() + u" " + h.get_property_2(); }, u"SALES SALES MD dev"},
      {"write", W(u"CUST", u"C1", u"A\r\nB"), done},
      {"read", R(u"CUST", u"C1"), u"A\r\nB"},
      {"write lossless", W(u"CUST", u"N", lossless), done},
      {"read lossless", R(u"CUST", u"N"), lossless},
      {"stat lossless", S(u"CUST", u"N"), u"0\r\n19"},
      {"create existing", N(u"CUST", u"C1", u"x"), u"error 204: Item 'C1' already exists in file 'CUST'."},
      {"create empty", N(u"CUST", u"E", u""), done},
      {"read empty", R(u"CUST", u"E"), u""},
      {"read missing item", R(u"CUST", u"NONE"), u"error 202: Item 'NONE' not found in file 'CUST'."},
      {"read missing file", R(u"NOFILE", u"C1"), u"error 200: File 'NOFILE' not found in account 'SALES'."},
      {"write missing dictionary", W(u"DICT NOPE", u"C1", u"x"), u"error 200: File 'DICT NOPE' not found in account 'SALES'."},
      {"delete in section named as file", D(u"CUST,CUST", u"C1"), u"error 200: File 'CUST,CUST' not found in account 'SALES'."},
      {"list missing file", L(u"NOFILE", 0, 0), u"error 200: File 'NOFILE' not found in account 'SALES'."},
      {"read empty id", R(u"CUST", u""), u"error 203: Invalid item id '' in file 'CUST' " + invalid_id},
      {"read id with LF", R(u"CUST", u"A\nB"), u"error 203: Invalid item id 'A\\u000AB' in file 'CUST' " + invalid_id},
      {"write id with a mark", W(u"CUST", u"A\xF8FD" u"B", u"x"), u"error 203: Invalid item id 'A\\uF8FDB' in file 'CUST' " + invalid_id},
      {"read empty file name", R(u"", u"C1"), u"error 203: Invalid file name '' " + invalid_id},
      {"create id with CR", N(u"CUST", u"A\rB", u"x"), u"error 203: Invalid item id 'A\\u000DB' in file 'CUST' " + invalid_id},
      {"delete id with a mark", D(u"CUST", u"\xF8FB"), u"error 203: Invalid item id '\\uF8FB' in file 'CUST' " + invalid_id},
      {"stat empty id", S(u"CUST", u""), u"error 203: Invalid item id '' in file 'CUST' " + invalid_id},
      {"list a file name with LF", L(u"A\nB", 0, 0), u"error 203: Invalid file name 'A\\u000AB' " + invalid_id},
      {"read a section entry", R(u"DICT CUST", u"HIST"), section_entry},
      {"write a section entry", W(u"DICT CUST", u"HIST", u"x"), section_written},
      {"delete a section entry", D(u"DICT CUST", u"HIST"), u"error 207: Item 'HIST' in file 'DICT CUST' names a data section of the file and cannot be deleted."},
      {"delete a file pointer", D(u"MD", u"CUST"), pointer_deleted},
      {"delete the MD's own pointer", D(u"MD", u"MD"), u"error 207: Item 'MD' in file 'MD' is the pointer of file 'MD' and cannot be deleted."},
      {"delete missing", D(u"CUST", u"NONE"), u"error 202: Item 'NONE' not found in file 'CUST'."},
      {"create over a file pointer", N(u"MD", u"CUST", u""), u"error 204: Item 'CUST' already exists in file 'MD'."},
      {"read a file pointer", R(u"MD", u"CUST"), u"F\r\nCUST\r\nDICT CUST"},
      {"stat file", S(u"MD", u"CUST"), u"16\r\n0"},
      {"stat MD's section", S(u"DICT MD", u"MD"), u"16\r\n0"},
      {"stat item", S(u"CUST", u"C1"), u"0\r\n4"},
      {"stat missing", S(u"CUST", u"NONE"), u"error 202: Item 'NONE' not found in file 'CUST'."},
      {"write dictionary item", W(u"DICT CUST", u"NAME", u"D\r\n1"), done},
      {"stat dictionary item", S(u"DICT CUST", u"NAME"), u"0\r\n4"},
      {"write MD item", W(u"MD", u"VERB", u"V\r\n\u00E9"), done},
      {"write section item", W(u"CUST,HIST", u"H1", u"old"), done},
      {"write z", W(u"CUST", u"z", u"1"), done},
      {"write e-acute", W(u"CUST", u"\u00E9", u"22"), done},
      {"write U+FFFD", W(u"CUST", u"\uFFFD", u"333"), done},
      {"write U+1F600", W(u"CUST", u"\U0001F600", u"4444"), done},
      {"write U+E000", W(u"CUST", u"\uE000", u"55555"), done},
      {"write U+FFFF", W(u"CUST", u"\uFFFF", u"xy"), done},
      {"write 10", W(u"CUST", u"10", u"xy"), done},
      {"write 9", W(u"CUST", u"9", u"xy"), done},
      {"list CUST", L(u"CUST", 0, 0), u"CUST\r\n10|0|2^9|0|2^C1|0|4^E|0|0^N|0|19^z|0|1^\u00E9|0|2^\uE000|0|5^\uFFFD|0|3^\uFFFF|0|2^\U0001F600|0|4"},
      {"list CUST max 2", L(u"CUST", 0, 2), u"CUST\r\n10|0|2^9|0|2"},
      {"list CUST max all", L(u"CUST", 0, 11), u"CUST\r\n10|0|2^9|0|2^C1|0|4^E|0|0^N|0|19^z|0|1^\u00E9|0|2^\uE000|0|5^\uFFFD|0|3^\uFFFF|0|2^\U0001F600|0|4"},
      {"list CUST negative max", L(u"CUST", 0, -5), u"CUST\r\n10|0|2^9|0|2^C1|0|4^E|0|0^N|0|19^z|0|1^\u00E9|0|2^\uE000|0|5^\uFFFD|0|3^\uFFFF|0|2^\U0001F600|0|4"},
      {"list CUST attribute 1", L(u"CUST", 1, 0), u"CUST\r\n"},
      {"list CUST negative attribute", L(u"CUST", -16, 1), u"CUST\r\n10|0|2"},
      {"list DICT CUST", L(u"DICT CUST", 0, 0), u"DICT CUST\r\nCUST|16|0^HIST|16|0^NAME|0|4"},
      {"list DICT CUST directories", L(u"DICT CUST", 16, 0), u"DICT CUST\r\nCUST|16|0^HIST|16|0"},
      {"list MD", L(u"MD", 0, 0), u"MD\r\nCUST|16|0^MD|16|0^VERB|0|5"},
      {"list MD directories", L(u"MD", 16, 0), u"MD\r\nCUST|16|0^MD|16|0"},
      {"list section", L(u"CUST,HIST", 0, 0), u"CUST,HIST\r\nH1|0|3"},
      {"echo", C(u"ECHO", u"", lossless), lossless},
      {"FTFSCMD echo", C(u"FTFSCMD", u"ECHO", marked(params)), marked(u"ECHO\r\n" + params)},
      {"FTFSCMD copy", C(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC9"), u"1 item copied.\r\nC9"},
      {"FTFSCMD copy onto existing", C(u"FTFSCMD", u"COPY", u"CUST\r\nC1\r\nto\r\nC9"), u"error 204: Item 'C9' already exists in file 'CUST'."},
      {"FTFSCMD copy overwrite", C(u"FTFSCMD", u"COPY", marked(u"CUST\r\nN\r\nto^overwrite\r\nC9^1")), u"1 item copied.\r\nC9"},
      {"read copy", R(u"CUST", u"C9"), lossless},
      {"FTFSCMD copy without to", C(u"FTFSCMD", u"COPY", u"CUST\r\nC1"), u"error 203: COPY of item 'C1' in file 'CUST' needs the option 'to' (the new item id)."},
      {"FTFSCMD copy missing item", C(u"FTFSCMD", u"COPY", u"CUST\r\nNONE\r\nto\r\nC2"), u"error 202: Item 'NONE' not found in file 'CUST'."},
      {"write an id beyond ASCII", W(u"CUST", u"\u00C9T\u00C9", u"summer"), done},
      {"FTFSCMD copy of it", C(u"FTFSCMD", u"COPY", u"CUST\r\n" + bytes_as_units + u"\r\nto\r\nSOMMER"), u"1 item copied.\r\nSOMMER"},
      {"read its copy", R(u"CUST", u"SOMMER"), u"summer"},
      {"FTFSCMD unknown", C(u"FTFSCMD", u"LIST", u"CUST\r\nC1"), u"error 205: Unknown command 'LIST' for subroutine FTFSCMD."},
      {"unknown subroutine", C(u"FOO", u"", u""), u"error 205: Unknown subroutine 'FOO'."},
      {"move", MV(u"CUST", u"C9", u"C10", false), done},
      {"moved away", R(u"CUST", u"C9"), u"error 202: Item 'C9' not found in file 'CUST'."},
      {"moved here", R(u"CUST", u"C10"), lossless},
      {"move onto existing", MV(u"CUST", u"C10", u"C1", false), u"error 204: Item 'C1' already exists in file 'CUST'."},
      {"move replacing", MV(u"CUST", u"C10", u"C1", true), done},
      {"replaced", R(u"CUST", u"C1"), lossless},
      {"move missing", MV(u"CUST", u"C10", u"C11", false), u"error 202: Item 'C10' not found in file 'CUST'."},
      {"move to an invalid id", MV(u"CUST", u"C1", u"", false), u"error 203: Invalid item id '' in file 'CUST' " + invalid_id},
      {"move from an id with CR", MV(u"CUST", u"C\r1", u"C3", false), u"error 203: Invalid item id 'C\\u000D1' in file 'CUST' " + invalid_id},
      {"move onto itself", MV(u"CUST", u"C1", u"C1", false), done},
      {"move a file pointer", MV(u"MD", u"CUST", u"CUST2", false), pointer_deleted},
      {"move onto a section entry", MV(u"DICT CUST", u"NAME", u"HIST", false), section_written},
      {"move a section entry", MV(u"DICT CUST", u"HIST", u"OTHER", false), section_entry},
      {"copy onto itself", CP(u"CUST", u"C1", u"C1", false), u"error 204: Item 'C1' already exists in file 'CUST'."},
      {"copy missing", CP(u"CUST", u"NONE", u"C2", false), u"error 202: Item 'NONE' not found in file 'CUST'."},
      {"copy into section entry", CP(u"DICT CUST", u"NAME", u"HIST", true), section_written},
      {"copy", CP(u"CUST", u"E", u"C4", false), done},
      {"change if absent, existing", IF(u"CUST", u"C1", u"new", absent), u"no"},
      {"change if the tag matches", IF(u"CUST", u"C1", u"new", tag(lossless)), u"yes"},
      {"changed", R(u"CUST", u"C1"), u"new"},
      {"change if the tag is stale", IF(u"CUST", u"C1", u"newer", tag(lossless)), u"no"},
      {"unchanged", R(u"CUST", u"C1"), u"new"},
      {"create if absent", IF(u"CUST", u"NEWC", u"c", absent), u"yes"},
      {"delete if present", IF(u"CUST", u"NEWC", std::nullopt, present), u"yes"},
      {"delete absent unconditionally", IF(u"CUST", u"NEWC", std::nullopt, any), u"error 202: Item 'NEWC' not found in file 'CUST'."},
      {"delete if no tag matches", IF(u"CUST", u"C1", std::nullopt, not_tag(u"new")), u"no"},
      {"delete if the tag matches", IF(u"CUST", u"C4", std::nullopt, tag(u"")), u"yes"},
      {"change a section entry", IF(u"DICT CUST", u"HIST", u"x", any), section_written},
      {"delete a file pointer if present", IF(u"MD", u"CUST", std::nullopt, present), pointer_deleted},
      {"delete a dictionary item", D(u"DICT CUST", u"NAME"), done},
      {"rewrite a file pointer", W(u"MD", u"CUST", u"F\r\nCUST\r\nDICT CUST\r\nnote"), done},
      {"read the pointer", R(u"MD", u"CUST"), u"F\r\nCUST\r\nDICT CUST\r\nnote"},
      {"delete", D(u"CUST", u"C1"), done},
      {"deleted", R(u"CUST", u"C1"), u"error 202: Item 'C1' not found in file 'CUST'."},
      {"list CUST at the end", L(u"CUST", 0, 0), u"CUST\r\n10|0|2^9|0|2^E|0|0^N|0|19^SOMMER|0|6^z|0|1^\u00C9T\u00C9|0|6^\u00E9|0|2^\uE000|0|5^\uFFFD|0|3^\uFFFF|0|2^\U0001F600|0|4"},
      {"list DICT CUST at the end", L(u"DICT CUST", 0, 0), u"DICT CUST\r\nCUST|16|0^HIST|16|0"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    EXPECT_EQ(to_utf8(outcome(host, row.call)), to_utf8(marked(row.expected)));
  }
}

// Item times as the mount shows them, in `file` (holding no items A and B): a write sets the time
// (now), a time set is kept to the nanosecond, a rename keeps it, a rewrite with the same text
// and `plain_write_of_b` (another client changing B behind the host's back) move it again.
inline void check_item_times(velquor_base& host, const text& file, const std::function<void()>& plain_write_of_b) {
  const auto time_of = [&](const text& id) {
    for (const auto& [name, nanoseconds] : host.list_item_times(file)) {
      if (name == id) return nanoseconds;
    }
    return std::int64_t{-1};
  };
  const auto now = [] { return std::chrono::system_clock::now().time_since_epoch() / std::chrono::nanoseconds(1); };
  constexpr std::int64_t set = 1234567890123456789, millisecond = 1000000;  // 2009-02-13
  const std::int64_t before = now();
  host.write_item(file, u"A", u"one", 0, 0, 0, 0);
  EXPECT_GE(time_of(u"A"), before - millisecond);
  EXPECT_LE(time_of(u"A"), now() + millisecond);
  ASSERT_TRUE(host.set_item_time(file, u"A", set));
  EXPECT_EQ(time_of(u"A"), set);
  host.move_item(file, u"A", u"B", false, create_style::with_content);
  EXPECT_EQ(time_of(u"B"), set) << "a rename keeps the time";
  EXPECT_EQ(time_of(u"A"), -1);
  host.write_item(file, u"B", u"one", 0, 0, 0, 0);
  EXPECT_GE(time_of(u"B"), before - millisecond) << "the same text again moves it";
  ASSERT_TRUE(host.set_item_time(file, u"B", set));
  plain_write_of_b();
  EXPECT_GE(time_of(u"B"), before - millisecond) << "a plain SQL write moves it";
  EXPECT_EQ(failure_of([&] { host.set_item_time(file, u"MISSING", 1); }).first, 202);
}

}  // namespace ombrix::testing
