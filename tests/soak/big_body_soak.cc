// Big-body soak: one PUT of a large item (50 MiB by default, --limit N for N MiB) and its GET,
// while the server's resident memory is sampled. Reports the peak over the idle level relative
// to the item's size (the aim is at most 3 times the item over idle); checks only that both
// requests succeed and the item comes back whole. Loopback only.
#include <atomic>
#include <thread>

#include "tests/soak/soak_common.h"

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options =
      soak_options::parse(argc, argv, "usage: big_body_soak [--bin DIR] [--limit MiB]");
  const long mib = options.limit > 0 ? static_cast<long>(options.limit) : 50;
  verdict result("big body (" + std::to_string(mib) + " MiB item)");

  temp_dir data("ombrix-soak-big");
  create_main(options, data.str(), "DATA");
  server_process server(options.server(), data.str());

  rest_client client(server.port());
  if (!client.login()) {
    result.fail("login failed: " + excerpt(client.last().raw));
    return result.finish();
  }
  // One attribute of plain letters: the JSON text is the item's size plus a few bytes.
  const std::size_t item_bytes = static_cast<std::size_t>(mib) << 20;
  const std::string value(item_bytes, 'q');
  const std::string body = "{\"data\":[\"" + value + "\"]}";
  const std::vector<std::string> headers{"Authorization: Bearer " + client.token()};
  const std::string target = api + "file/MAIN/DATA/DATA/BIG";

  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const long idle_kib = rss_kib(server.pid());
  std::atomic<bool> sampling{true};
  std::atomic<long> peak_kib{idle_kib};
  std::thread sampler([&] {
    while (sampling) {
      peak_kib = std::max(peak_kib.load(), rss_kib(server.pid()));
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  });

  exchange_options slow;
  slow.timeout = std::chrono::seconds(120);
  auto started = clock_type::now();
  http_response put = parse_response(
      http_exchange(server.port(), http_request("PUT", target, body, headers), slow).bytes);
  const double put_seconds = seconds_since(started);
  started = clock_type::now();
  http_response get = parse_response(
      http_exchange(server.port(), http_request("GET", target, {}, headers), slow).bytes);
  const double get_seconds = seconds_since(started);
  sampling = false;
  sampler.join();

  const long high_water_kib = status_kib(server.pid(), "VmHWM");
  const long peak = std::max(peak_kib.load(), high_water_kib);
  result.require(put.raw == empty_success(), "the PUT failed: " + excerpt(put.raw));
  result.require(get.status == 200 && get.body.find(value) != std::string::npos,
                 "the GET did not return the item: " + excerpt(get.raw));
  result.require(!server.has_exited(), "the server process ended during the run");
  const double item_mib = static_cast<double>(item_bytes) / (1 << 20);
  const double over_idle_mib = static_cast<double>(peak - idle_kib) / 1024.0;
  result.note("idle RSS", fixed(static_cast<double>(idle_kib) / 1024.0) + " MiB");
  result.note("peak RSS (VmHWM and 5 ms samples)", fixed(static_cast<double>(peak) / 1024.0) + " MiB");
  result.note("peak over idle", fixed(over_idle_mib) + " MiB = " + fixed(over_idle_mib / item_mib, 2) +
                                    " x the item (aim: at most 3 x)");
  result.note("PUT / GET time", fixed(put_seconds, 2) + " s / " + fixed(get_seconds, 2) + " s");
  server.stop();
  return result.finish();
}
