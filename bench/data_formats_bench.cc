// Throughput of the data formats on 1 MiB inputs: item text to JSON and back, request bodies
// through parse_json_object, and the UTF-8 conversions. Inputs are made from a fixed seed.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "host/text.h"
#include "json/item_text.h"
#include "json/json_object.h"
#include "json/json_tokenizer.h"
#include "json/json_writer.h"

namespace ombrix {
namespace {

constexpr std::size_t mib = 1 << 20;

// A word of mixed text: mostly ASCII, some two-, three- and four-byte characters.
std::u16string random_word(std::mt19937& rng) {
  static const std::u16string words[] = {
      u"alpha", u"Customer", u"12345", u"2024-06-11", u"Caf\x00E9", u"Stra\x00DF" u"e",
      u"\x4E2D\x6587", u"\x65E5\x672C\x8A9E", u"\xD83D\xDE00", u"na\x00EFve", u"Z\x00FCrich",
      u"ORDER-0042", u"quantity", u"\x0410\x0411\x0412", u"line one", u"x"};
  return words[rng() % std::size(words)];
}

// Mixed text of about `bytes` bytes of UTF-8.
std::u16string mixed_text(std::size_t bytes) {
  std::mt19937 rng(1234);
  std::u16string text;
  while (to_utf8(text).size() < bytes) {
    for (int i = 0; i < 1000; ++i) {
      text += random_word(rng);
      text += u' ';
    }
  }
  return text;
}

// An item of about `bytes` bytes: attributes, some with values and subvalues.
std::u16string mixed_item(std::size_t bytes) {
  std::mt19937 rng(99);
  std::u16string item;
  std::size_t utf8_size = 0;
  while (utf8_size < bytes) {
    std::u16string attribute;
    const int shape = static_cast<int>(rng() % 4);
    const int values = shape == 0 ? 1 : 1 + static_cast<int>(rng() % 5);
    for (int v = 0; v < values; ++v) {
      if (v) attribute += value_mark;
      const int subvalues = shape == 3 ? 1 + static_cast<int>(rng() % 3) : 1;
      for (int s = 0; s < subvalues; ++s) {
        if (s) attribute += subvalue_mark;
        for (int w = 0; w < 3; ++w) attribute += random_word(rng) + u" ";
        if (rng() % 8 == 0) attribute += u"\"quoted\"\t";
      }
    }
    if (!item.empty()) item += u"\r\n";
    item += attribute;
    utf8_size += to_utf8(attribute).size() + 2;
  }
  return item;
}

std::string item_json(const std::u16string& item) {
  json_writer writer;
  item_to_json(writer, item, 0);
  return writer.text();
}

void item_to_json_1mib(benchmark::State& state) {
  const std::u16string item = mixed_item(mib);
  const std::size_t bytes = to_utf8(item).size();
  for (auto _ : state) {
    json_writer writer;
    item_to_json(writer, item, 0);
    benchmark::DoNotOptimize(writer.view().data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(item_to_json_1mib);

void json_to_item_1mib(benchmark::State& state) {
  const std::string json = item_json(mixed_item(mib));
  for (auto _ : state) {
    json_tokenizer tokenizer;
    tokenizer.init(json.data(), static_cast<std::uint32_t>(json.size()));
    text item;
    if (!json_to_item(tokenizer, item)) state.SkipWithError("json_to_item failed");
    benchmark::DoNotOptimize(item.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * json.size()));
}
BENCHMARK(json_to_item_1mib);

// The members of a body: strings with and without escapes, integers and small arrays, until
// the writer holds about `bytes` bytes.
void small_members(json_writer& writer, std::size_t bytes, std::mt19937& rng) {
  int n = 0;
  while (writer.view().size() < bytes) {
    const std::string name = "member" + std::to_string(n++);
    writer.dynamic_key(name);
    switch (rng() % 4) {
      case 0:
        writer.string(to_utf8(random_word(rng) + u" \"said\"\n" + random_word(rng)));
        break;
      case 1:
        writer.integer(static_cast<std::int64_t>(rng()));
        break;
      case 2:
        writer.string(to_utf8(random_word(rng) + u" " + random_word(rng)));
        break;
      default:
        writer.begin_array();
        writer.string(to_utf8(random_word(rng)));
        writer.integer(std::int64_t{1});
        writer.end_array();
        break;
    }
  }
}

// An update body as clients send it: a few members and the item as the "data" array.
std::string update_body(std::size_t bytes) {
  std::mt19937 rng(7);
  json_writer writer;
  writer.begin_object();
  writer.key("id");
  writer.string("ORDER*0042");
  small_members(writer, 400, rng);
  writer.key("data");
  item_to_json(writer, mixed_item(bytes), 0);
  writer.end_object();
  return writer.text();
}

// The worst shape for the member table: about 35,000 small top-level members.
std::string many_members_body(std::size_t bytes) {
  std::mt19937 rng(8);
  json_writer writer;
  writer.begin_object();
  small_members(writer, bytes, rng);
  writer.end_object();
  return writer.text();
}

void parse_body(benchmark::State& state, const std::string& body) {
  for (auto _ : state) {
    json_members members;
    if (parse_json_object(body.data(), static_cast<std::uint32_t>(body.size()), members) != 2) {
      state.SkipWithError("parse failed");
    }
    benchmark::DoNotOptimize(members.size());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * body.size()));
}

void parse_json_object_1mib(benchmark::State& state) { parse_body(state, update_body(mib)); }
BENCHMARK(parse_json_object_1mib);

void parse_json_object_many_members_1mib(benchmark::State& state) {
  parse_body(state, many_members_body(mib));
}
BENCHMARK(parse_json_object_many_members_1mib);

void from_utf8_1mib(benchmark::State& state) {
  const std::string utf8 = to_utf8(mixed_text(mib));
  for (auto _ : state) {
    text units = from_utf8(utf8);
    benchmark::DoNotOptimize(units.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * utf8.size()));
}
BENCHMARK(from_utf8_1mib);

// Counted in bytes of UTF-8 written, the same measure as from_utf8.
void to_utf8_1mib(benchmark::State& state) {
  const std::u16string units = mixed_text(mib);
  const std::size_t bytes = to_utf8(units).size();
  for (auto _ : state) {
    std::string utf8 = to_utf8(units);
    benchmark::DoNotOptimize(utf8.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(to_utf8_1mib);

}  // namespace
}  // namespace ombrix

BENCHMARK_MAIN();
