// Big-body soak: the PUT of a large item (50 MiB by default, --limit N for N MiB), once creating
// and once replacing it, and its GET, while the server's resident memory is sampled. Reports
// the peak of each request over the idle level relative to the item's size and fails when a
// PUT's passes 3 times the item or the GET's 1.5 times (each peak is taken afresh: the
// high-water mark is reset before each request). Checks that every request succeeds and the
// item comes back whole. Loopback only.
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
  exchange_options slow;
  slow.timeout = std::chrono::seconds(120);

  // Runs one request while resident memory is sampled; returns its peak in KiB (the samples and
  // the kernel's high-water mark, reset first so that it covers this request alone).
  const auto measured = [&](const std::string& method, const std::string& payload,
                            http_response& response, double& seconds) {
    const bool reset = reset_peak_rss(server.pid());
    std::atomic<bool> sampling{true};
    std::atomic<long> peak_kib{rss_kib(server.pid())};
    std::thread sampler([&] {
      while (sampling) {
        peak_kib = std::max(peak_kib.load(), rss_kib(server.pid()));
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    });
    const auto started = clock_type::now();
    response = parse_response(
        http_exchange(server.port(), http_request(method, target, payload, headers), slow).bytes);
    seconds = seconds_since(started);
    sampling = false;
    sampler.join();
    // Without the reset the mark would still hold an earlier request's peak.
    return reset ? std::max(peak_kib.load(), status_kib(server.pid(), "VmHWM")) : peak_kib.load();
  };

  // The PUT twice: it creates the item, then replaces it (the old text is in the way then).
  http_response put;
  http_response replace;
  http_response get;
  double put_seconds = 0;
  double replace_seconds = 0;
  double get_seconds = 0;
  const long create_peak = measured("PUT", body, put, put_seconds);
  const long replace_peak = measured("PUT", body, replace, replace_seconds);
  const long put_peak = std::max(create_peak, replace_peak);
  const long get_peak = measured("GET", {}, get, get_seconds);

  result.require(put.raw == empty_success(), "the PUT failed: " + excerpt(put.raw));
  result.require(replace.raw == empty_success(), "the second PUT failed: " + excerpt(replace.raw));
  result.require(get.status == 200 && get.body.find(value) != std::string::npos,
                 "the GET did not return the item: " + excerpt(get.raw));
  result.require(!server.has_exited(), "the server process ended during the run");
  const double item_mib = static_cast<double>(item_bytes) / (1 << 20);
  const auto over_idle = [&](long peak) { return static_cast<double>(peak - idle_kib) / 1024.0; };
  const double put_ratio = over_idle(put_peak) / item_mib;
  const double get_ratio = over_idle(get_peak) / item_mib;
  result.note("idle RSS", fixed(static_cast<double>(idle_kib) / 1024.0) + " MiB");
  result.note("PUT peak RSS (creating / replacing)",
              fixed(static_cast<double>(create_peak) / 1024.0) + " / " +
                  fixed(static_cast<double>(replace_peak) / 1024.0) + " MiB");
  result.note("PUT peak RSS", fixed(static_cast<double>(put_peak) / 1024.0) + " MiB, " +
                                  fixed(over_idle(put_peak)) + " MiB = " + fixed(put_ratio, 2) +
                                  " x the item over idle (aim: at most 3 x)");
  result.note("GET peak RSS", fixed(static_cast<double>(get_peak) / 1024.0) + " MiB, " +
                                  fixed(over_idle(get_peak)) + " MiB = " + fixed(get_ratio, 2) +
                                  " x the item over idle (aim: at most 1.5 x)");
  result.note("PUT / second PUT / GET time", fixed(put_seconds, 2) + " s / " +
                                                 fixed(replace_seconds, 2) + " s / " +
                                                 fixed(get_seconds, 2) + " s");
  result.require(put_ratio <= 3.0, "the PUT's peak passed 3 x the item");
  result.require(get_ratio <= 1.5, "the GET's peak passed 1.5 x the item");
  server.stop();
  return result.finish();
}
