// Slow-client soak: hundreds of connections that send nothing or half a request are held open
// (and reopened when the server's receive time-out ends them) while one normal client keeps
// working. Checks that the normal client is always served and stays within its usual latency.
// Bounded by --seconds; loopback only.
#include <fcntl.h>
#include <poll.h>

#include <thread>

#include "tests/soak/soak_common.h"

namespace ombrix::soak {
namespace {

const std::string half_request =
    "GET /quelm/restfs/file/MAIN/DATA/DATA/X HTTP/1.1\r\nHost: 127.0.0.1\r\nAutho";

struct slow_stats {
  long opened = 0;            // connections established
  long connect_failures = 0;  // connects refused or failed
  long answered_405 = 0;
  long answered_400 = 0;
  long answered_other = 0;
  long closed_silently = 0;
  long least_held = -1;  // fewest established slow connections seen after the first build-up
};

// Holds `count` slow connections until `deadline`, replacing each one the server ends. Connects
// are non-blocking, so that a connect waiting for a SYN retransmit (the listen backlog is
// small) does not hold up the others.
slow_stats hold_slow_connections(int port, int count, clock_type::time_point deadline) {
  slow_stats stats;
  struct slot {
    client_socket socket;
    bool established = false;
    bool half = false;
    std::string received;
  };
  std::vector<slot> pool(static_cast<size_t>(count));
  for (size_t i = 0; i < pool.size(); ++i) pool[i].half = i % 2 == 1;
  auto restart = [&](slot& s) {
    s.socket = start_connect(port);
    s.established = false;
    s.received.clear();
    if (!s.socket.valid()) ++stats.connect_failures;
  };
  // Start gradually: a burst of hundreds of SYNs mostly overflows the backlog.
  for (size_t i = 0; i < pool.size() && clock_type::now() < deadline; ++i) {
    restart(pool[i]);
    if (i % 20 == 19) std::this_thread::sleep_for(10ms);
  }
  const auto built_up = clock_type::now() + 2s;
  while (clock_type::now() < deadline) {
    std::vector<pollfd> waiting;
    long held = 0;
    for (auto& s : pool) {
      waiting.push_back({s.socket.fd(), static_cast<short>(s.established ? POLLIN : POLLOUT), 0});
      held += s.established;
    }
    if (clock_type::now() > built_up && (stats.least_held < 0 || held < stats.least_held)) stats.least_held = held;
    ::poll(waiting.data(), waiting.size(), 100);
    for (size_t i = 0; i < pool.size(); ++i) {
      slot& s = pool[i];
      if (!s.socket.valid()) {
        if (clock_type::now() < deadline) restart(s);
        continue;
      }
      if (waiting[i].revents == 0) continue;
      if (!s.established) {
        int error = 0;
        socklen_t length = sizeof error;
        ::getsockopt(s.socket.fd(), SOL_SOCKET, SO_ERROR, &error, &length);
        if (error != 0) {
          ++stats.connect_failures;
          restart(s);
          continue;
        }
        s.established = true;
        ++stats.opened;
        if (s.half) send_all(s.socket.fd(), half_request);
        continue;
      }
      char buffer[4096];
      ssize_t got = ::recv(s.socket.fd(), buffer, sizeof buffer, 0);
      if (got > 0) {
        s.received.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got < 0 && (errno == EAGAIN || errno == EINTR)) continue;
      // The server ended this connection: classify its answer and open a replacement.
      if (s.received.starts_with("HTTP/1.1 405 ")) ++stats.answered_405;
      else if (s.received.starts_with("HTTP/1.1 400 ")) ++stats.answered_400;
      else if (!s.received.empty()) ++stats.answered_other;
      else ++stats.closed_silently;
      if (clock_type::now() < deadline) restart(s);
      else s.socket.reset();
    }
  }
  return stats;
}

}  // namespace
}  // namespace ombrix::soak

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options = soak_options::parse(
      argc, argv, "usage: slow_clients_soak [--bin DIR] [--seconds N] [--connections N]");
  raise_file_limit();
  verdict result("slow clients (" + std::to_string(options.connections) + " held, " +
                 fixed(options.seconds) + " s)");

  temp_dir data("ombrix-soak-slow");
  create_main(options, data.str(), "DATA");
  server_process server(options.server(), data.str());

  rest_client client(server.port());
  if (!client.login() || client.put(api + "file/MAIN/DATA/DATA/X", R"({"data":["x",["y","z"]]})").raw != empty_success()) {
    result.fail("set-up failed: " + excerpt(client.last().raw));
    return result.finish();
  }
  const std::string expected = json_response(item_json("X", R"(["x",["y","z"]])"));
  auto normal_request = [&](latencies& timings) {
    auto start = clock_type::now();
    http_response response = client.get(api + "file/MAIN/DATA/DATA/X");
    timings.add(clock_type::now() - start);
    result.require(response.raw == expected, "normal client got " + excerpt(response.raw));
  };

  const long overflows_before = listen_overflows();
  // The normal client paces its requests the same way in every phase (one every 5 ms or so),
  // since the latency of a request after an idle gap differs from one sent back to back.
  auto paced = [&](latencies& timings) {
    normal_request(timings);
    std::this_thread::sleep_for(5ms);
  };
  latencies baseline;
  for (int i = 0; i < 300; ++i) paced(baseline);

  auto deadline = deadline_after(options.seconds);
  slow_stats stats;
  std::thread holder([&] { stats = hold_slow_connections(server.port(), options.connections, deadline); });
  latencies loaded;
  long peak_threads = 0;
  std::this_thread::sleep_for(500ms);  // let the slow connections build up first
  while (clock_type::now() < deadline && loaded.count() < 1'000'000) {
    paced(loaded);
    std::ifstream status("/proc/" + std::to_string(server.pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
      if (line.rfind("Threads:", 0) == 0) peak_threads = std::max(peak_threads, std::atol(line.c_str() + 8));
    }
  }
  holder.join();
  result.require(!server.has_exited(), "the server process ended during the run");
  // The quiet level once more, after the slow connections are gone: the machine's own load may
  // have changed during the run, and the usual latency is the worse of the two quiet levels.
  std::this_thread::sleep_for(500ms);
  latencies after;
  for (int i = 0; i < 300; ++i) paced(after);

  const double base_p50 = std::max(baseline.percentile_ms(50), after.percentile_ms(50));
  const double base_p99 = std::max(baseline.percentile_ms(99), after.percentile_ms(99));
  const double load_p50 = loaded.percentile_ms(50), load_p99 = loaded.percentile_ms(99);
  const double load_max = loaded.max_ms();
  result.note("slow connections established", std::to_string(stats.opened) + " (connect failures " +
                                                  std::to_string(stats.connect_failures) + ", fewest held at once " +
                                                  std::to_string(stats.least_held) + ")");
  result.note("ended by the server", "405: " + std::to_string(stats.answered_405) + ", 400: " +
                                         std::to_string(stats.answered_400) + ", other: " +
                                         std::to_string(stats.answered_other) + ", closed without answer: " +
                                         std::to_string(stats.closed_silently));
  result.note("listen queue overflows during the run (system-wide)",
              std::to_string(listen_overflows() - overflows_before));
  result.note("server threads at peak", std::to_string(peak_threads));
  result.note("normal client alone, before / after: p50 / p99",
              fixed(baseline.percentile_ms(50), 2) + " / " + fixed(baseline.percentile_ms(99), 2) + " ms, " +
                  fixed(after.percentile_ms(50), 2) + " / " + fixed(after.percentile_ms(99), 2) + " ms (" +
                  std::to_string(baseline.count()) + " requests each)");
  result.note("normal client under slow load p50 / p99 / max",
              fixed(load_p50, 2) + " / " + fixed(load_p99, 2) + " / " + fixed(load_max, 2) + " ms (" +
                  std::to_string(loaded.count()) + " requests)");
  // "Usual latency": the median within twice its quiet value plus 2 ms, the 99th percentile
  // within three times its quiet value plus 10 ms, and no request near a retransmit (1 s).
  result.require(load_p50 <= 2 * base_p50 + 2, "median latency under slow load is above its usual level");
  result.require(load_p99 <= 3 * base_p99 + 10, "p99 latency under slow load is above its usual level");
  result.require(load_max < 1000, "a normal request took a second or more");
  result.require(stats.connect_failures == 0, "slow connections could not be opened");
  result.require(stats.opened >= options.connections, "fewer slow connections than asked for were held");
  server.stop();
  return result.finish();
}
