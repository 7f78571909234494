// The default 8-bit code page on Windows: the system's ANSI code page, not UTF-8.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "host/com_error.h"
#include "host/text.h"
#include "platform/code_page.h"

namespace ombrix {
namespace {

TEST(DefaultCodePage, ConvertsWithTheAnsiCodePage) {
  if (GetACP() == CP_UTF8) {
    EXPECT_EQ(to_default_codepage(u"Caf\x00E9"), "Caf\xC3\xA9");
    return;
  }
  ASSERT_FALSE(platform::default_code_page_is_utf8());
  EXPECT_EQ(to_default_codepage(u""), "");
  EXPECT_EQ(from_default_codepage(""), u"");
  if (GetACP() == 1252) {
    EXPECT_EQ(to_default_codepage(u"Caf\x00E9 \x20AC"), "Caf\xE9 \x80");
    EXPECT_EQ(from_default_codepage("Caf\xE9 \x80"), u"Caf\x00E9 \x20AC");
    EXPECT_EQ(to_default_codepage(u"\x4E2D"), "?");  // a character it lacks: the default one
  }
  // Every code page of the ANSI family holds ASCII as itself.
  std::string bytes;
  for (int b = 1; b < 0x80; ++b) bytes.push_back(static_cast<char>(b));
  EXPECT_EQ(from_default_codepage(bytes), text(bytes.begin(), bytes.end()));
  EXPECT_EQ(to_default_codepage(text(bytes.begin(), bytes.end())), bytes);
}

}  // namespace
}  // namespace ombrix
