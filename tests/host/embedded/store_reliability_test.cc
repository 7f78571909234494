// The embedded host on a full disk: a file-size limit makes writes beyond it fail.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "host/embedded/account_store.h"
#include "host/embedded/embedded_host.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

using testing::failure_of;
using StoreReliability = testing::temporary_data_root;

// With writes beyond a size limit failing (as on a full disk), a write is a clean 206 and the
// account stays consistent. Runs in a child process, which alone gets the limit.
TEST_F(StoreReliability, FullDiskIs206AndLeavesTheAccountConsistent) {
  make_account(u"FULL");
  stores().open(u"FULL")->create_file(u"F", {});
  stores().open(u"FULL")->write(u"F", u"SMALL", u"before");
  stores().open(u"FULL")->checkpoint();
  stores().release_unused();
  int ends[2];
  ASSERT_EQ(pipe(ends), 0);
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{256 * 1024, 256 * 1024};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(5);
    try {
      embedded_host host(stores());
      host.connect(u"FULL**");
      const auto [number, description] = failure_of([&] { host.write_item(u"F", u"BIG", text(1 << 20, u'x'), 0, 0, 0, 0); });
      const std::string report = std::to_string(number) + "|" + description + "|" + to_utf8(host.read_item(u"F", u"SMALL", 0, 0, 0, 0)) +
                                 "|" + std::to_string(failure_of([&] { host.stat_item(u"F", u"BIG", u"-1"); }).first);
      _exit(write(ends[1], report.data(), report.size()) < 0 ? 4 : 0);
    } catch (...) {
      _exit(3);
    }
  }
  close(ends[1]);
  const int out = ends[0];
  ASSERT_GT(child, 0);
  std::string report;
  char buffer[512];
  for (ssize_t got; (got = read(out, buffer, sizeof buffer)) > 0;) report.append(buffer, got);
  close(out);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(report.starts_with("206|Storage failure in account 'FULL': ") && report.ends_with("|before|202")) << report;

  auto store = stores().open(u"FULL");
  EXPECT_EQ(store->check_integrity(), "ok");
  EXPECT_EQ(store->read(u"F", u"SMALL"), u"before");
  EXPECT_EQ(failure_of([&] { store->read(u"F", u"BIG"); }).first, 202);
  store->write(u"F", u"BIG", text(1 << 20, u'y'));
  EXPECT_EQ(store->read(u"F", u"BIG"), text(1 << 20, u'y'));
}

}  // namespace
}  // namespace ombrix
