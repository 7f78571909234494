// Reliability of the embedded host under a killed writer process, many concurrent host objects
// and a file-size limit that makes the disk "full".
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host/embedded/account_store.h"
#include "host/embedded/embedded_host.h"
#include "tests/host/temporary_data_root.h"

namespace ombrix {
namespace {

using testing::failure_of;

// prefix followed by the decimal value.
text numbered(std::u16string_view prefix, std::uint64_t value) {
  text out(prefix);
  out += from_utf8(std::to_string(value));
  return out;
}

// A self-checking item text: its header names writer, slot and version, and its body depends on
// all three, so a torn or mixed item never validates. Lengths vary from a few bytes to ~12 KiB
// so that writes span one or several database pages.
text make_content(std::uint32_t writer, std::uint32_t slot, std::uint32_t version) {
  text content = numbered(u"", writer) + numbered(u"\r\n", slot) + numbered(u"\r\n", version) + u"\r\n";
  const std::uint32_t length = (writer * 7919u + slot * 104729u + version * 1299709u) % 6000u;
  for (std::uint32_t i = 0; i < length; ++i) {
    content.push_back(static_cast<char16_t>(0x21 + (writer + slot * 3 + version * 5 + i) % 0x5D));
  }
  return content + text(1, value_mark) + numbered(u"", length);
}

// The writer and slot of a content made by make_content, when the whole content matches them.
std::optional<std::pair<std::uint32_t, std::uint32_t>> parse_content(const text& content) {
  std::uint32_t fields[3];
  std::size_t position = 0;
  for (std::uint32_t& field : fields) {
    const std::size_t end = content.find(u"\r\n", position);
    if (end == text::npos) return std::nullopt;
    field = static_cast<std::uint32_t>(std::stoul(to_utf8(content.substr(position, end - position))));
    position = end + 2;
  }
  if (make_content(fields[0], fields[1], fields[2]) != content) return std::nullopt;
  return std::make_pair(fields[0], fields[1]);
}

// Runs `body(write end of a pipe)` in a child process that exits 0 after it (3 if it threw);
// returns {child, read end of the pipe}.
template <typename Body>
std::pair<pid_t, int> fork_child(Body body) {
  int ends[2];
  if (pipe(ends) != 0) return {-1, -1};
  const pid_t child = fork();
  if (child == 0) {
    close(ends[0]);
    try {
      body(ends[1]);
    } catch (...) {
      _exit(3);
    }
    _exit(0);
  }
  close(ends[1]);
  return {child, ends[0]};
}

class StoreReliability : public testing::temporary_data_root {};

// Writes items in a loop in a child process, reporting each acknowledged item through a pipe,
// until the parent kills it with SIGKILL. Every acknowledged item must then be intact, and the
// write in flight at the kill is there completely or not at all.
TEST_F(StoreReliability, AcknowledgedWritesSurviveKillNine) {
  make_account(u"DUR");
  const auto [child, acks] = fork_child([&](int out) {
    stores().open(u"DUR")->create_file(u"LOG", {});
    embedded_host host(stores());
    host.connect(u"DUR**writer");
    for (std::uint32_t i = 0; i < 1000000; ++i) {
      host.write_item(u"LOG", numbered(u"I", i), make_content(1, i, i), 0, 0, 0, 0);
      if (write(out, &i, sizeof i) != sizeof i) _exit(4);
    }
  });
  ASSERT_GT(child, 0);
  std::vector<std::uint32_t> acknowledged;
  const auto read_acknowledgements = [&](int timeout_ms) {
    pollfd ready{acks, POLLIN, 0};
    std::uint32_t ids[256];
    const ssize_t got = poll(&ready, 1, timeout_ms) > 0 ? read(acks, ids, sizeof ids) : 0;
    acknowledged.insert(acknowledged.end(), ids, ids + std::max<ssize_t>(got, 0) / sizeof(std::uint32_t));
    return got > 0;
  };
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (acknowledged.size() < 1500 && std::chrono::steady_clock::now() < deadline) read_acknowledgements(100);
  ASSERT_EQ(kill(child, SIGKILL), 0);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL) << "the writer ended first: " << status;
  while (read_acknowledgements(0)) continue;
  close(acks);
  ASSERT_GE(acknowledged.size(), 100u) << "the writer made too little progress";

  auto store = stores().open(u"DUR");
  EXPECT_EQ(store->check_integrity(), "ok");
  for (std::uint32_t i : acknowledged) {
    ASSERT_EQ(store->read(u"LOG", numbered(u"I", i)), make_content(1, i, i)) << "acknowledged item " << i;
  }
  const std::uint32_t next = acknowledged.back() + 1;
  const auto [number, description] = testing::failure_of([&] { store->read(u"LOG", numbered(u"I", next)); });
  if (number == 0) {
    EXPECT_EQ(store->read(u"LOG", numbered(u"I", next)), make_content(1, next, next));
  } else {
    EXPECT_EQ(number, 202) << description;
  }
  EXPECT_EQ(store->entries(u"LOG", 0, 0).size(), acknowledged.size() + (number == 0 ? 1 : 0));
}

// 16 threads x 300 operations, each through a freshly connected host object of the account:
// private items read back as last written, shared items are never torn, and of the threads
// racing to create one id exactly one wins.
TEST_F(StoreReliability, ConcurrentHostObjectsLoseNothingAndTearNothing) {
  make_account(u"CONC");
  stores().open(u"CONC")->create_file(u"F", {});
  constexpr std::uint32_t threads = 16, operations = 300, slots = 4, race_slots = 40;
  std::vector<std::map<std::uint32_t, std::uint32_t>> own(threads);  // slot -> last version
  std::vector<std::set<std::uint32_t>> won(threads);
  std::atomic<int> problems{0};
  std::atomic<std::uint32_t> versions{1};
  const auto worker = [&](std::uint32_t t) {
    std::minstd_rand random(t + 1);
    const auto next = [&random](std::uint32_t bound) { return static_cast<std::uint32_t>(random() % bound); };
    for (std::uint32_t op = 0; op < operations; ++op) {
      embedded_host host(stores());
      const std::uint32_t choice = next(100), slot = next(slots), version = versions++;
      const text mine = numbered(u"T", t) + numbered(u"-", slot);
      try {
        host.connect(numbered(u"CONC**t", t));
        if (choice < 35) {
          host.write_item(u"F", mine, make_content(t, slot, version), 0, 0, 0, 0);
          own[t][slot] = version;
        } else if (choice < 55) {
          const auto last = own[t].find(slot);
          if (last != own[t].end() && host.read_item(u"F", mine, 0, 0, 0, 0) != make_content(t, slot, last->second)) ++problems;
        } else if (choice < 70) {
          text content;
          const int number = failure_of([&] { content = host.read_item(u"F", numbered(u"S", slot), 0, 0, 0, 0); }).first;
          if (number == 202) continue;
          const auto parsed = parse_content(content);
          if (number != 0 || !parsed || parsed->second != slot) ++problems;
        } else if (choice < 85) {
          host.write_item(u"F", numbered(u"S", slot), make_content(t, slot, version), 0, 0, 0, 0);
        } else {
          const std::uint32_t race = next(race_slots);
          const int number = failure_of([&] { host.create_item(u"F", numbered(u"R", race), make_content(t, race, version)); }).first;
          if (number == 0) won[t].insert(race);
          if (number != 0 && number != 204) ++problems;
        }
      } catch (const _com_error&) {
        ++problems;
      }
    }
  };
  std::vector<std::jthread> pool;
  for (std::uint32_t t = 0; t < threads; ++t) pool.emplace_back(worker, t);
  pool.clear();
  EXPECT_EQ(problems.load(), 0);

  embedded_host host(stores());
  host.connect(u"CONC**");
  std::set<std::uint32_t> races;
  for (std::uint32_t t = 0; t < threads; ++t) {
    for (const auto& [slot, version] : own[t]) {
      EXPECT_EQ(host.read_item(u"F", numbered(u"T", t) + numbered(u"-", slot), 0, 0, 0, 0), make_content(t, slot, version));
    }
    for (const std::uint32_t race : won[t]) {
      EXPECT_TRUE(races.insert(race).second) << "two creators won item R" << race;
      const auto parsed = parse_content(host.read_item(u"F", numbered(u"R", race), 0, 0, 0, 0));
      ASSERT_TRUE(parsed.has_value());
      EXPECT_EQ(parsed->first, t) << "item R" << race << " is not its creator's";
    }
  }
  auto store = stores().open(u"CONC");
  for (const listing_entry& entry : store->entries(u"F", 0, 0)) {
    EXPECT_EQ(entry.size, static_cast<std::int64_t>(to_utf8(store->read(u"F", entry.name)).size()));
  }
  EXPECT_EQ(store->check_integrity(), "ok");
}

// With writes beyond a size limit failing (as on a full disk), a write is a clean 206 and the
// account stays consistent. Runs in a child process, which alone gets the limit.
TEST_F(StoreReliability, FullDiskIs206AndLeavesTheAccountConsistent) {
  make_account(u"FULL");
  stores().open(u"FULL")->create_file(u"F", {});
  stores().open(u"FULL")->write(u"F", u"SMALL", u"before");
  stores().open(u"FULL")->checkpoint();
  stores().release_unused();
  const auto [child, out] = fork_child([&](int report_end) {
    signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{256 * 1024, 256 * 1024};
    if (setrlimit(RLIMIT_FSIZE, &limit) != 0) _exit(5);
    embedded_host host(stores());
    host.connect(u"FULL**");
    const auto [number, description] = failure_of([&] { host.write_item(u"F", u"BIG", text(1 << 20, u'x'), 0, 0, 0, 0); });
    const std::string report = std::to_string(number) + "|" + description + "|" + to_utf8(host.read_item(u"F", u"SMALL", 0, 0, 0, 0)) +
                               "|" + std::to_string(failure_of([&] { host.stat_item(u"F", u"BIG", u"-1"); }).first);
    if (write(report_end, report.data(), report.size()) < 0) _exit(4);
  });
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
