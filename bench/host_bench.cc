// Speed of the embedded host as the server uses it: a host object made and connected per
// request, over an account of 100,000 items of 1 KiB.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <memory>
#include <string>
#include <vector>

#include "host/embedded/account_store.h"
#include "host/embedded/account_stores.h"
#include "host/embedded/embedded_host.h"

namespace ombrix {
namespace {

constexpr std::size_t item_count = 100000;
constexpr std::size_t listing_count = 1000;

text item_id(std::size_t i) {
  std::string digits = std::to_string(i);
  return from_utf8("ITEM" + std::string(6 - std::min<std::size_t>(6, digits.size()), '0') + digits);
}

// 1 KiB of item text: attributes and values of printable ASCII.
text kib_content(std::size_t seed) {
  text content;
  content.reserve(1024);
  while (content.size() < 1024) {
    content.push_back(static_cast<char16_t>(u'A' + (seed + content.size()) % 26));
    if (content.size() % 80 == 78) content += u"\r\n";
    if (content.size() % 37 == 36) content.push_back(value_mark);
  }
  content.resize(1024);
  return content;
}

// The account BENCH in a temporary data root: file BIG with 100,000 items, file DIR with 1,000.
// Built once per process and removed at exit.
struct bench_account {
  bench_account() {
    std::string pattern = (std::filesystem::temp_directory_path() / "ombrix-bench-XXXXXX").string();
    if (!mkdtemp(pattern.data())) std::abort();
    base = pattern;
    stores = std::make_unique<account_stores>(base, u"MAIN");
    account_store::create(base, u"BENCH", u"MD");
    auto store = stores->open(u"BENCH");
    store->create_file(u"BIG", {});
    store->create_file(u"DIR", {});
    std::vector<account_store::item> batch;
    for (std::size_t i = 0; i < item_count; ++i) {
      batch.push_back({item_id(i), kib_content(i)});
      if (batch.size() == 10000) {
        store->import_items(u"BIG", batch);
        batch.clear();
      }
    }
    for (std::size_t i = 0; i < listing_count; ++i) batch.push_back({item_id(i), kib_content(i)});
    store->import_items(u"DIR", batch);
    store->checkpoint();
    ids.reserve(item_count);
    for (std::size_t i = 0; i < item_count; ++i) ids.push_back(item_id(i));
    std::shuffle(ids.begin(), ids.end(), std::mt19937(42));
  }
  ~bench_account() {
    stores.reset();
    std::error_code ignored;
    std::filesystem::remove_all(base, ignored);
  }
  std::string base;
  std::unique_ptr<account_stores> stores;  // the server's stores of the data root
  std::vector<text> ids;  // every id of BIG in random order
};

bench_account& account() {
  static bench_account instance;
  return instance;
}

void BM_ConnectAndRead1KiB(benchmark::State& state) {
  const auto& ids = account().ids;
  std::size_t next = static_cast<std::size_t>(state.thread_index()) * 7919;
  for (auto _ : state) {
    embedded_host host(*account().stores);
    host.connect(u"BENCH**bench");
    benchmark::DoNotOptimize(host.read_item(u"BIG", ids[next++ % ids.size()], 0, 0, 0, 0));
  }
}
BENCHMARK(BM_ConnectAndRead1KiB)->Threads(1)->Threads(2)->UseRealTime();

void BM_ConnectAndWrite1KiB(benchmark::State& state) {
  const auto& ids = account().ids;
  const text content = kib_content(7);
  std::size_t next = static_cast<std::size_t>(state.thread_index()) * 7919;
  for (auto _ : state) {
    embedded_host host(*account().stores);
    host.connect(u"BENCH**bench");
    host.write_item(u"BIG", ids[next++ % ids.size()], content, 0, 0, 0, 0);
  }
}
BENCHMARK(BM_ConnectAndWrite1KiB)->Threads(1)->Threads(2)->UseRealTime();

void BM_ConnectAndList1000(benchmark::State& state) {
  account();
  for (auto _ : state) {
    embedded_host host(*account().stores);
    host.connect(u"BENCH**bench");
    benchmark::DoNotOptimize(host.list_items(u"DIR", 0, 0, text(), u"-1"));
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(listing_count));
}
BENCHMARK(BM_ConnectAndList1000)->UseRealTime();

void BM_ConnectAndListFirst1000Of100000(benchmark::State& state) {
  account();
  for (auto _ : state) {
    embedded_host host(*account().stores);
    host.connect(u"BENCH**bench");
    benchmark::DoNotOptimize(host.list_items(u"BIG", 0, 1000, text(), u"-1"));
  }
}
BENCHMARK(BM_ConnectAndListFirst1000Of100000)->UseRealTime();

void BM_ConnectAndStat(benchmark::State& state) {
  const auto& ids = account().ids;
  std::size_t next = 0;
  for (auto _ : state) {
    embedded_host host(*account().stores);
    host.connect(u"BENCH**bench");
    benchmark::DoNotOptimize(host.stat_item(u"BIG", ids[next++ % ids.size()], u"-1\xF8FD-2"));
  }
}
BENCHMARK(BM_ConnectAndStat)->UseRealTime();

void BM_ConnectOnly(benchmark::State& state) {
  account();
  for (auto _ : state) {
    embedded_host host(*account().stores);
    host.connect(u"BENCH**bench");
    benchmark::DoNotOptimize(host.get_property_5());
  }
}
BENCHMARK(BM_ConnectOnly)->UseRealTime();

}  // namespace
}  // namespace ombrix

BENCHMARK_MAIN();
