// Many-accounts soak: thousands of accounts are touched round-robin (a login naming each, then a
// listing of its MD) by a server under a low open-file limit (prlimit, soft and hard alike).
// Every request must be answered, the server's descriptors must stay well under the limit, and
// the default account must keep working. --limit N sets the descriptor limit (default 1024),
// --clients N the number of accounts (default 2000). Loopback only.
#include <filesystem>

#include "tests/soak/soak_common.h"

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options = soak_options::parse(
      argc, argv, "usage: accounts_soak [--bin DIR] [--limit N] [--clients N-accounts]");
  raise_file_limit();
  const int limit = options.limit > 0 ? static_cast<int>(options.limit) : 1024;
  const int accounts = options.clients;
  verdict result(std::to_string(accounts) + " accounts round-robin (descriptor limit " +
                 std::to_string(limit) + ")");

  temp_dir data("ombrix-soak-accounts");
  create_main(options, data.str());
  // Account files are copies of MAIN's database: the master dictionary keeps its name.
  const std::filesystem::path main_db = data.path() / "MAIN.db";
  for (int n = 0; n < accounts; ++n) {
    std::filesystem::copy_file(main_db, data.path() / ("A" + std::to_string(n) + ".db"));
  }
  const std::string nofile = "--nofile=" + std::to_string(limit) + ":" + std::to_string(limit);
  server_process server(std::vector<std::string>{"prlimit", nofile, "--", options.server()},
                        data.str());
  const pid_t pid = server.pid();

  long answered = 0, most_open = 0;
  for (int round = 0; round < 2; ++round) {
    for (int n = 0; n < accounts && result.failures() < 10; ++n) {
      const std::string name = "A" + std::to_string(n);
      rest_client client(server.port());
      if (!client.login("{\"ServerName\":\"" + name + "\"}")) {
        result.fail("login to " + name + ": " + excerpt(client.last().raw));
        continue;
      }
      const http_response listing = client.get(api + "dir/" + name);
      result.require(listing.status == 200, "dir of " + name + ": " + excerpt(listing.raw));
      answered += listing.status == 200;
      if (n % 100 == 0) most_open = std::max(most_open, open_descriptors(pid));
    }
  }
  rest_client default_account(server.port());
  result.require(default_account.login(), "default login: " + excerpt(default_account.last().raw));
  const http_response main_listing = default_account.get(api + "dir/MAIN");
  result.require(main_listing.status == 200, "dir of MAIN: " + excerpt(main_listing.raw));
  most_open = std::max(most_open, open_descriptors(pid));
  // The open accounts are bounded (32, a few descriptors each) whatever the number touched.
  result.require(most_open < limit / 4, "the server held " + std::to_string(most_open) +
                                            " descriptors (limit " + std::to_string(limit) + ")");
  result.note("listings answered", std::to_string(answered));
  result.note("most descriptors open", std::to_string(most_open));
  return result.finish();
}
