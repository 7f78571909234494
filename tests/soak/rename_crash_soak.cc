// Rename crash soak: clients rename items back and forth between two ids (A<n> and B<n>) as fast
// as they can, the server is killed with SIGKILL at a random moment and restarted on the same
// data root, alternating the host generations (-n 80 and -n 71). After every restart each item
// must exist under exactly one of its two ids, with its whole content. Bounded by --cycles and
// --seconds; loopback only.
#include <random>
#include <thread>

#include "tests/soak/soak_common.h"

namespace ombrix::soak {
namespace {

constexpr int items = 30;
constexpr int renamers = 4;
const std::string file_path = "MAIN/MOVE/MOVE/";

std::string content_of(int n) {
  return "[\"item " + std::to_string(n) + "\",\"" + std::string(2000, static_cast<char>('a' + n % 26)) + "\"]";
}

std::string item_url(char side, int n) {
  return api + "file/" + file_path + side + std::to_string(n);
}

// Renames random items from whichever id holds them to the other until the server stops
// answering or `deadline`.
void rename_until_failure(int port, unsigned seed, clock_type::time_point deadline) {
  rest_client client(port);
  if (!client.login()) return;
  std::mt19937 random(seed);
  std::uniform_int_distribution<int> pick(0, items - 1);
  while (clock_type::now() < deadline) {
    const int n = pick(random);
    const std::string a = "A" + std::to_string(n), b = "B" + std::to_string(n);
    http_response response =
        client.get(api + "rename/" + file_path + a + "?newname=" + file_path + b);
    if (response.status == 404) {
      response = client.get(api + "rename/" + file_path + b + "?newname=" + file_path + a);
    }
    if (response.status == 0) return;  // the server went away
  }
}

// Every item must be under exactly one of its ids, with its whole content.
void check_items(rest_client& client, verdict& result, const std::string& when) {
  for (int n = 0; n < items; ++n) {
    const http_response a = client.get(item_url('A', n));
    const http_response b = client.get(item_url('B', n));
    const int present = (a.status == 200) + (b.status == 200);
    result.require(present == 1, when + ": item " + std::to_string(n) + " exists under " +
                                     std::to_string(present) + " ids (" + std::to_string(a.status) +
                                     "/" + std::to_string(b.status) + ")");
    const http_response& held = a.status == 200 ? a : b;
    if (present >= 1) {
      const std::string id = std::string(a.status == 200 ? "A" : "B") + std::to_string(n);
      const std::string expected = "{\"id\":\"" + id + "\",\"type\":\"array\",\"data\":" + content_of(n) + "}\r\n";
      result.require(held.body == expected, when + ": item " + id + " holds " + excerpt(held.body));
    }
  }
}

}  // namespace
}  // namespace ombrix::soak

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options = soak_options::parse(
      argc, argv, "usage: rename_crash_soak [--bin DIR] [--cycles N] [--seconds N-per-cycle]");
  raise_file_limit();
  verdict result("rename crash (" + std::to_string(options.cycles) + " kills, up to " +
                 fixed(options.seconds) + " s of renames each, generations 80 and 71)");

  temp_dir data("ombrix-soak-rename-crash");
  create_main(options, data.str(), "MOVE");
  {
    server_process server(options.server(), data.str());
    rest_client seeder(server.port());
    result.require(seeder.login(), "seed login failed");
    for (int n = 0; n < items && result.failures() == 0; ++n) {
      const http_response put = seeder.put(item_url('A', n), "{\"data\":" + content_of(n) + "}");
      result.require(put.status == 200, "seed write failed: " + excerpt(put.raw));
    }
    if (result.failures() > 0) return result.finish();
  }

  std::mt19937 random(std::random_device{}());
  long renames_before_kill = 0;
  for (int cycle = 0; cycle <= options.cycles; ++cycle) {
    const std::string generation = cycle % 2 == 0 ? "80" : "71";
    auto server = std::make_unique<server_process>(options.server(), data.str(),
                                                   std::vector<std::string>{"-n", generation});
    rest_client checker(server->port());
    if (!checker.login()) {
      result.fail("login after restart failed: " + excerpt(checker.last().raw));
      break;
    }
    check_items(checker, result, "cycle " + std::to_string(cycle));
    if (cycle == options.cycles || result.failures() > 0) break;

    const double window = std::max(0.4, options.seconds);
    std::uniform_int_distribution<int> kill_after(200, static_cast<int>(window * 1000));
    const auto deadline = clock_type::now() + std::chrono::milliseconds(static_cast<long>(window * 1000) + 2000);
    std::vector<std::thread> threads;
    for (int t = 0; t < renamers; ++t) {
      threads.emplace_back([&, seed = static_cast<unsigned>(random())] {
        rename_until_failure(server->port(), seed, deadline);
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kill_after(random)));
    server->stop(SIGKILL);
    for (auto& thread : threads) thread.join();
    ++renames_before_kill;
  }
  result.note("kills during renames", std::to_string(renames_before_kill));
  return result.finish();
}
