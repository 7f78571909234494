// velquor71 and velquor80 through create_host_server against the registered ombrix-host.dll
// (scripts/test-windows.sh registers it and creates the account WINTEST with the file CUST in the
// data root named by OMBRIX_DATA). The end-to-end tests under Wine run the same flows through
// the server; this pins what JSON cannot carry to the host: an item text with a NUL.
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

}  // namespace
}  // namespace ombrix
