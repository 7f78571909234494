#include "host/com_error.h"

#include <gtest/gtest.h>

#include <vector>

namespace ombrix {
namespace {

TEST(HresultHexTest, WritesLowerCaseHexWithoutLeadingZeros) {
  const std::pair<hresult, std::string> cases[] = {
      {e_fail, "80004005"}, {e_outofmemory, "8007000e"}, {e_accessdenied, "80070005"}, {static_cast<hresult>(0x800400C9), "800400c9"},
      {static_cast<hresult>(0xFFFFFFFF), "ffffffff"}, {0, "0"}, {1, "1"}, {0xABCD, "abcd"}, {0x0F00000A, "f00000a"},
  };
  for (const auto& [code, expected] : cases) EXPECT_EQ(hresult_hex(code), expected) << code;
}

TEST(DiagnosticLineTest, FormatsEachLineByteForByte) {
  const _com_error no_description(static_cast<hresult>(0x800401F3));
  const _com_error connect_error(host_error_code(201), u"Account 'SALES' not found");
  const _com_error accented(e_fail, u"Caf\x00E9 \xD83D\xDE00");
  EXPECT_EQ(create_failure_line(connect_error),
            "Failed to create instance of Velquorr.Server [0x800400c9 Account 'SALES' not found]");
  EXPECT_EQ(connect_failure_line("", no_description),
            "Failed to connect to server '' [0x800401f3 ]");
  EXPECT_EQ(com_error_line(no_description), "COM error:  [0x800401f3]");
  EXPECT_EQ(com_error_line(accented), "COM error: Caf\xC3\xA9 \xF0\x9F\x98\x80 [0x80004005]");
}

}  // namespace
}  // namespace ombrix
