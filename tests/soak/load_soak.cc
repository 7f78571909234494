// Load soak: many clients for a fixed time doing login, write, read, stat, list, rename and logout
// on their own items and on shared items. Checks that no response is unexpected, that every final
// item equals the last acknowledged write, and that the server's memory returns to its level
// before the run. Bounded by --seconds (and an iteration cap); loopback only.
#include <thread>

#include "tests/soak/soak_common.h"

namespace ombrix::soak {
namespace {

constexpr int shared_count = 8;
constexpr int own_per_client = 4;
constexpr long iteration_cap = 1'000'000;

const std::string file_path = "MAIN/LOAD/LOAD/";

struct shared_write {
  std::string value;
  clock_type::time_point sent;
  clock_type::time_point acked;
};

// Acknowledged writes of the shared items, guarded by a mutex.
class shared_log {
 public:
  void add(int item, shared_write write) {
    std::lock_guard lock(mutex_);
    writes_[item].push_back(std::move(write));
  }
  std::vector<shared_write> of(int item) {
    std::lock_guard lock(mutex_);
    return writes_[item];
  }

 private:
  std::mutex mutex_;
  std::map<int, std::vector<shared_write>> writes_;
};

struct client_state {
  int number = 0;
  long iteration = 0;
  std::map<std::string, std::string> own;  // id -> last acknowledged value
  std::string rename_id;                   // where the client's rename item lives now
  std::string rename_value;
  long requests = 0;
  long provoked = 0;  // error responses the mix asks for on purpose
  latencies timings;
};

std::string data_of(std::string_view value) { return "[" + json_quote(value) + "]"; }
std::string body_of(std::string_view value) { return "{\"data\":" + data_of(value) + "}"; }

class load_run {
 public:
  load_run(int port, verdict& result) : port_(port), result_(result) {}

  // One client's loop until `deadline`.
  void run_client(client_state& state, clock_type::time_point deadline) {
    while (clock_type::now() < deadline && state.iteration < iteration_cap) {
      one_session(state);
      ++state.iteration;
    }
  }

  // Creates the shared items and each client's rename item before the clients start.
  bool prepare(std::vector<client_state>& clients) {
    rest_client setup(port_);
    if (!setup.login()) return false;
    for (int i = 0; i < shared_count; ++i) {
      if (setup.put(api + "file/" + file_path + "S" + std::to_string(i), body_of("init")).raw != empty_success())
        return false;
    }
    for (auto& state : clients) {
      state.rename_id = "R" + std::to_string(state.number) + "a";
      state.rename_value = "rename item of " + std::to_string(state.number);
      if (setup.put(api + "file/" + file_path + state.rename_id, body_of(state.rename_value)).raw !=
          empty_success())
        return false;
    }
    return setup.get(api + "logout").raw == empty_success();
  }

  // Reads everything back after the run and checks the final states.
  void verify(std::vector<client_state>& clients) {
    rest_client checker(port_);
    if (!checker.login()) {
      result_.fail("final login failed: " + excerpt(checker.last().raw));
      return;
    }
    long checked = 0;
    for (auto& state : clients) {
      for (const auto& [id, value] : state.own) {
        std::string got = checker.get(api + "file/" + file_path + id).raw;
        result_.require(got == json_response(item_json(id, data_of(value))),
                        "final " + id + " is not the last acknowledged write: " + excerpt(got));
        ++checked;
      }
      std::string got = checker.get(api + "file/" + file_path + state.rename_id).raw;
      result_.require(got == json_response(item_json(state.rename_id, data_of(state.rename_value))),
                      "renamed item " + state.rename_id + " lost: " + excerpt(got));
      ++checked;
    }
    for (int i = 0; i < shared_count; ++i) {
      std::string id = "S" + std::to_string(i);
      http_response got = checker.get(api + "file/" + file_path + id);
      std::vector<shared_write> writes = log_.of(i);
      bool valid = false;
      for (const auto& write : writes) {
        if (got.raw != json_response(item_json(id, data_of(write.value)))) continue;
        // The value is acceptable when no other acknowledged write started after it was acknowledged.
        bool superseded = false;
        for (const auto& other : writes) superseded = superseded || other.sent > write.acked;
        valid = !superseded;
        break;
      }
      if (writes.empty()) valid = got.raw == json_response(item_json(id, data_of("init")));
      result_.require(valid, "final shared " + id + " is not a last acknowledged write: " + excerpt(got.raw));
      ++checked;
    }
    result_.note("items verified after the run", std::to_string(checked));
    checker.get(api + "logout");
  }

 private:
  // Sends one request, counting it and its time in `state`.
  static http_response timed_call(client_state& state, rest_client& client, std::string_view method,
                                  const std::string& target, std::string_view body = {}) {
    const auto start = clock_type::now();
    http_response response = client.call(method, target, body);
    state.timings.add(clock_type::now() - start);
    ++state.requests;
    return response;
  }

  // Sends one request and checks the whole response (or its status and code for host errors).
  bool expect(client_state& state, rest_client& client, std::string_view method, const std::string& target,
              std::string_view body, const std::string& expected, const char* what) {
    http_response response = timed_call(state, client, method, target, body);
    if (response.raw == expected) return true;
    result_.fail(std::string(what) + " " + target + ": expected " + excerpt(expected) + " got " +
                 excerpt(response.raw));
    return false;
  }

  bool expect_code(client_state& state, rest_client& client, std::string_view method, const std::string& target,
                   std::string_view body, int status, std::string_view code, const char* what) {
    http_response response = timed_call(state, client, method, target, body);
    if (response.status == status && response.body.ends_with("\"code\":\"" + std::string(code) + "\"}")) {
      ++state.provoked;
      return true;
    }
    result_.fail(std::string(what) + " " + target + ": expected " + std::to_string(status) + "/" +
                 std::string(code) + " got " + excerpt(response.raw));
    return false;
  }

  void one_session(client_state& state) {
    rest_client client(port_);
    auto start = clock_type::now();
    bool logged = client.login();
    state.timings.add(clock_type::now() - start);
    ++state.requests;
    if (!logged) {
      result_.fail("login: " + excerpt(client.last().raw));
      return;
    }
    const long seq = state.iteration;
    const std::string n = std::to_string(state.number);
    const std::string own_id = "O" + n + "_" + std::to_string(seq % own_per_client);
    const std::string own_url = api + "file/" + file_path + own_id;
    const std::string value = "c" + n + "-" + std::to_string(seq) + " \xC3\xA9\xF0\x9F\x98\x80";

    if (expect(state, client, "PUT", own_url, body_of(value), empty_success(), "write own")) {
      state.own[own_id] = value;
    }
    if (auto it = state.own.find(own_id); it != state.own.end()) {
      expect(state, client, "GET", own_url, {}, json_response(item_json(own_id, data_of(it->second))),
             "read own");
      expect(state, client, "GET", api + "stat/" + file_path + own_id, {},
             json_response("{\"attr\":0,\"size\":" + std::to_string(it->second.size()) + "}"), "stat own");
      expect_code(state, client, "POST", api + "create/" + file_path + own_id, body_of("x"), 500, "204",
                  "create existing");
    }

    const int shared = static_cast<int>((state.number + seq) % shared_count);
    const std::string shared_url = api + "file/" + file_path + "S" + std::to_string(shared);
    shared_write write{value, clock_type::now(), {}};
    if (expect(state, client, "PUT", shared_url, body_of(value), empty_success(), "write shared")) {
      write.acked = clock_type::now();
      log_.add(shared, write);
    }
    const http_response read = timed_call(state, client, "GET", shared_url);
    result_.require(read.status == 200 && read.body.find("\"data\":[\"") != std::string::npos,
                    "read shared: " + excerpt(read.raw));
    const http_response list = timed_call(state, client, "GET", api + "dir/" + file_path);
    result_.require(list.status == 200 && list.body.find("{\"id\":\"" + state.rename_id + "\",") != std::string::npos,
                    "list: " + excerpt(list.raw));

    const std::string next_id = "R" + n + (state.rename_id.back() == 'a' ? "b" : "a");
    if (expect(state, client, "GET",
               api + "rename/" + file_path + state.rename_id + "?newname=" + file_path + next_id, {},
               empty_success(), "rename")) {
      const std::string old_id = state.rename_id;
      state.rename_id = next_id;
      expect(state, client, "GET", api + "file/" + file_path + next_id, {},
             json_response(item_json(next_id, data_of(state.rename_value))), "read renamed");
      expect_code(state, client, "GET", api + "file/" + file_path + old_id, {}, 404, "202", "read old name");
    }
    expect(state, client, "GET", api + "logout", {}, empty_success(), "logout");
  }

  int port_;
  verdict& result_;
  shared_log log_;
};

void run_phase(load_run& run, std::vector<client_state>& clients, double seconds) {
  auto deadline = deadline_after(seconds);
  std::vector<std::thread> threads;
  for (auto& state : clients) threads.emplace_back([&run, &state, deadline] { run.run_client(state, deadline); });
  for (auto& thread : threads) thread.join();
}

}  // namespace
}  // namespace ombrix::soak

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options = soak_options::parse(
      argc, argv, "usage: load_soak [--bin DIR] [--seconds N] [--clients N]");
  raise_file_limit();
  verdict result("load (" + std::to_string(options.clients) + " clients, " + fixed(options.seconds) + " s)");

  temp_dir data("ombrix-soak-load");
  create_main(options, data.str(), "LOAD");
  server_process server(options.server(), data.str());
  const long rss_fresh = rss_kib(server.pid());

  std::vector<client_state> clients(static_cast<size_t>(options.clients));
  for (int i = 0; i < options.clients; ++i) clients[i].number = i;
  load_run run(server.port(), result);
  if (!run.prepare(clients)) {
    result.fail("could not create the shared items");
    return result.finish();
  }

  // Warm-up with the same mix: threads, allocator arenas and the host's connection pool reach
  // their working size, so the baseline below is the server's steady state, not its empty start.
  // As long as the measured phase, between 2 and 5 s: a leak of more than about 50 bytes per
  // request still shows as more than 10% over the measured phase.
  const double warm_up = std::min(5.0, std::max(2.0, options.seconds));
  run_phase(run, clients, warm_up);
  std::this_thread::sleep_for(1500ms);
  const long rss_before = rss_kib(server.pid());
  long requests_before = 0;
  for (auto& state : clients) requests_before += state.requests;

  std::atomic<bool> sampling{true};
  std::atomic<long> rss_peak{rss_before};
  std::thread sampler([&] {
    while (sampling) {
      rss_peak = std::max(rss_peak.load(), rss_kib(server.pid()));
      std::this_thread::sleep_for(200ms);
    }
  });
  const long overflows_before = listen_overflows();
  auto start = clock_type::now();
  run_phase(run, clients, options.seconds);
  const long overflows = listen_overflows() - overflows_before;
  double elapsed = seconds_since(start);
  sampling = false;
  sampler.join();
  std::this_thread::sleep_for(2s);
  const long rss_after = rss_kib(server.pid());

  result.require(!server.has_exited(), "the server process ended during the run");
  run.verify(clients);

  long requests = 0, provoked = 0;
  latencies all;
  for (auto& state : clients) {
    requests += state.requests;
    provoked += state.provoked;
  }
  double p50 = 0, p99 = 0, worst = 0;
  for (auto& state : clients) {
    p50 = std::max(p50, state.timings.percentile_ms(50));
    p99 = std::max(p99, state.timings.percentile_ms(99));
    worst = std::max(worst, state.timings.max_ms());
  }
  const long measured = requests - requests_before;
  result.note("requests (load phase)", std::to_string(measured) + " in " + fixed(elapsed) + " s = " +
                                           fixed(measured / elapsed) + " req/s");
  result.note("provoked error responses (expected)", std::to_string(provoked));
  result.note("listen queue overflows during the load (system-wide)", std::to_string(overflows));
  result.note("latency per client, worst p50 / p99 / max", fixed(p50, 2) + " / " + fixed(p99, 2) + " / " +
                                                               fixed(worst, 2) + " ms");
  result.note("RSS fresh / before load / peak / after load",
              std::to_string(rss_fresh) + " / " + std::to_string(rss_before) + " / " +
                  std::to_string(rss_peak.load()) + " / " + std::to_string(rss_after) + " KiB");
  // The database grows during the run and SQLite's page cache on each pooled connection fills
  // with it: up to a few MiB that a process of about 10 MiB cannot give back and that is not a
  // leak. The 10% bound therefore has a floor of 2 MiB; over a long run a leak still exceeds it.
  const long allowed_growth = std::max(rss_before / 10, 2048L);
  result.require(rss_after <= rss_before + allowed_growth,
                 "RSS after load " + std::to_string(rss_after) + " KiB is more than " +
                     std::to_string(allowed_growth) + " KiB above " + std::to_string(rss_before) +
                     " KiB");
  server.stop();
  return result.finish();
}
