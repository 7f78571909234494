// velquor71 and velquor80 through create_host_server against the registered ombrix-host.dll
// (scripts/test-windows.sh registers it and creates the account WINTEST with the file CUST in the
// data root named by OMBRIX_DATA). The end-to-end tests under Wine run the server's flows through
// it; these pin what JSON cannot carry to the host (an item text with a NUL) and how the component
// reads cmd's parameter text.
#include <gtest/gtest.h>

#include <memory>

#include "base/settings.h"
#include "host/factory/create_host_server.h"

namespace ombrix {
namespace {

TEST(create_host_server, BothGenerationsRoundTripAnItemWithMarksANulAndASurrogatePair) {
  const text content(u"a\uF8FDb\uF8FCc\r\nd\0e\xD83D\xDE00", 12);
  for (const int generation : {71, 80}) {
    SCOPED_TRACE(generation);
    const std::shared_ptr<velquor_base> host = create_host_server(settings{.host_version = generation}, "WINTEST**t");
    ASSERT_NE(host, nullptr);
    EXPECT_EQ(host->get_server_name(), u"WINTEST");
    const text item = generation == 71 ? u"I71" : u"I80";
    if (generation == 71) {  // 7.1 creates empty, then writes
      host->create_item(u"CUST", item, u"");
      host->write_item(u"CUST", item, content, 0, 0, 0, 0);
    } else {
      host->create_item(u"CUST", item, content);
    }
    EXPECT_EQ(host->read_item(u"CUST", item, 0, 0, 0, 0), content);
    host->delete_item(u"CUST", item);
  }
}

// Lines 1 and 2 (file name and item id, in code-page units) come back through the code page;
// lines 3 and 4 stay 16-bit text (U+0080 would be the euro sign in code page 1252), and so does a
// line already in 16-bit form; other subroutines get the text as it is.
TEST(create_host_server, CmdReadsOnlyLinesOneAndTwoThroughTheCodePage) {
  const std::shared_ptr<velquor_base> host = create_host_server(settings{.host_version = 80}, "WINTEST**t");
  ASSERT_NE(host, nullptr);
  const text item = host->command_parameter_name(u"\u20ac1").value();
  EXPECT_EQ(host->call_subroutine(u"FTFSCMD", u"ECHO", u"\u0416\r\n" + item + u"\r\n\u00e9\r\n\u0080"),
            u"ECHO\r\n\u0416\r\n\u20ac1\r\n\u00e9\r\n\u0080");
  EXPECT_EQ(host->call_subroutine(u"ECHO", u"", u"\u0080"), u"\u0080");
}

}  // namespace
}  // namespace ombrix
