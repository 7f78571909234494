// Crash soak: writers update their items as fast as they can, the server is killed with SIGKILL
// in the middle, restarted on the same data root, and every write that was answered 200 must be
// there. At the end every account database must pass PRAGMA integrity_check (sqlite3 CLI).
// Bounded by --cycles and --seconds; loopback only.
#include <random>
#include <thread>

#include "tests/soak/soak_common.h"

namespace ombrix::soak {
namespace {

constexpr int writers = 16;
const std::string file_path = "MAIN/CRASH/CRASH/";

struct writer_state {
  long acked = 0;      // highest sequence answered 200 (0: none)
  long in_flight = 0;  // sequence sent without an answer yet (0: none)
  long attempts = 0;
};

std::string body_for(long seq) { return "{\"data\":[\"" + std::to_string(seq) + "\",\"payload " + std::string(200, 'x') + "\"]}"; }

// Writes until the server stops answering or `deadline`.
void write_until_failure(int port, int number, writer_state& state, clock_type::time_point deadline) {
  rest_client client(port);
  if (!client.login()) return;
  const std::string url = api + "file/" + file_path + "W" + std::to_string(number);
  while (clock_type::now() < deadline) {
    long seq = state.acked + 1;
    state.in_flight = seq;
    ++state.attempts;
    http_response response = client.put(url, body_for(seq));
    if (response.raw != empty_success()) return;  // the server went away (or failed): stop
    state.acked = seq;
    state.in_flight = 0;
  }
}

// The sequence stored in item W<number>, 0 when missing, -1 when unreadable.
long stored_sequence(rest_client& client, int number) {
  http_response response = client.get(api + "file/" + file_path + "W" + std::to_string(number));
  if (response.status == 404) return 0;
  const std::string prefix = "\"data\":[\"";
  size_t at = response.body.find(prefix);
  if (response.status != 200 || at == std::string::npos) return -1;
  return std::atol(response.body.c_str() + at + prefix.size());
}

// Runs `sqlite3 FILE "PRAGMA integrity_check"`; its first output line.
std::string integrity_of(const std::filesystem::path& database) {
  run_result result = run_program({"/usr/bin/env", "sqlite3", database.string(), "PRAGMA integrity_check;"}, {}, 60s);
  if (!result.exited || result.exit_code != 0) return "sqlite3 failed: " + result.err;
  std::string line = result.out.substr(0, result.out.find('\n'));
  return line;
}

}  // namespace
}  // namespace ombrix::soak

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options =
      soak_options::parse(argc, argv, "usage: crash_soak [--bin DIR] [--cycles N] [--seconds N-per-cycle]");
  raise_file_limit();
  verdict result("crash (" + std::to_string(options.cycles) + " kills, up to " + fixed(options.seconds) +
                 " s of writes each)");

  temp_dir data("ombrix-soak-crash");
  create_main(options, data.str(), "CRASH");

  std::vector<writer_state> states(writers);
  std::mt19937 random(std::random_device{}());
  long total_acked = 0, total_in_flight_found = 0;
  for (int cycle = 0; cycle < options.cycles; ++cycle) {
    auto server = std::make_unique<server_process>(options.server(), data.str());
    // Before new writes: what the previous cycles acknowledged must be there.
    {
      rest_client checker(server->port());
      if (!checker.login()) {
        result.fail("login after restart failed: " + excerpt(checker.last().raw));
        break;
      }
      for (int n = 0; n < writers; ++n) {
        long stored = stored_sequence(checker, n);
        writer_state& state = states[n];
        bool ok = stored == state.acked || (state.in_flight != 0 && stored == state.in_flight);
        result.require(ok, "cycle " + std::to_string(cycle) + ": W" + std::to_string(n) + " holds " +
                               std::to_string(stored) + ", acknowledged " + std::to_string(state.acked));
        if (state.in_flight != 0 && stored == state.in_flight) ++total_in_flight_found;
        if (stored > state.acked) state.acked = stored;  // an unanswered write that did commit
        state.in_flight = 0;
      }
    }
    // Kill at a random moment within the cycle's time (at least 300 ms of writes).
    const double window = std::max(0.4, options.seconds);
    std::uniform_int_distribution<int> kill_after(300, static_cast<int>(window * 1000));
    const auto deadline = clock_type::now() + std::chrono::milliseconds(static_cast<long>(window * 1000) + 2000);
    std::vector<std::thread> threads;
    std::vector<long> acked_before(writers);
    for (int n = 0; n < writers; ++n) acked_before[n] = states[n].acked;
    for (int n = 0; n < writers; ++n) {
      threads.emplace_back([&, n] { write_until_failure(server->port(), n, states[n], deadline); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kill_after(random)));
    server->stop(SIGKILL);
    for (auto& thread : threads) thread.join();
    for (int n = 0; n < writers; ++n) total_acked += states[n].acked - acked_before[n];
  }
  // Final check after the last kill.
  {
    server_process server(options.server(), data.str());
    rest_client checker(server.port());
    if (checker.login()) {
      for (int n = 0; n < writers; ++n) {
        long stored = stored_sequence(checker, n);
        const writer_state& state = states[n];
        bool ok = stored == state.acked || (state.in_flight != 0 && stored == state.in_flight);
        result.require(ok, "final: W" + std::to_string(n) + " holds " + std::to_string(stored) +
                               ", acknowledged " + std::to_string(state.acked));
        if (state.in_flight != 0 && stored == state.in_flight) ++total_in_flight_found;
      }
    } else {
      result.fail("final login failed: " + excerpt(checker.last().raw));
    }
    server.stop(SIGKILL);
  }

  int databases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(data.path())) {
    if (entry.path().extension() != ".db") continue;
    ++databases;
    std::string verdict_line = integrity_of(entry.path());
    result.require(verdict_line == "ok", "integrity_check of " + entry.path().filename().string() + ": " + verdict_line);
  }
  result.require(databases > 0, "no account database found in the data root");
  result.note("writes answered 200", std::to_string(total_acked));
  result.note("unanswered writes found committed", std::to_string(total_in_flight_found));
  result.note("databases checked with integrity_check", std::to_string(databases));
  return result.finish();
}
