// Trickling-client soak: clients that send their request head one byte every 2 to 4 seconds,
// each byte well inside the server's per-receive time-out. Reports how long the server holds
// each one before it ends the connection; with --limit N, fails when any client is held more
// than N seconds. Bounded by --seconds (a client still held at the end counts as held that
// long); loopback only.
#include <poll.h>

#include <random>
#include <thread>

#include "tests/soak/soak_common.h"

namespace ombrix::soak {
namespace {

// Longer than any run trickles: the server never sees the end of the head.
std::string endless_head() {
  return "GET " + api + "dir/MAIN HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Trickle: " +
         std::string(4096, 'a') + "\r\n\r\n";
}

struct trickler {
  client_socket socket;
  clock_type::time_point opened;
  clock_type::time_point next_byte;
  std::size_t sent = 0;
  bool ended = false;          // the server closed or reset the connection
  double held_seconds = 0;
  std::string received;
};

// The server closed or reset the connection, or refused a byte: the hold ends at `now`.
void end_client(trickler& client, clock_type::time_point now) {
  client.ended = true;
  client.held_seconds = seconds_since(client.opened, now);
  client.socket.reset();
}

}  // namespace
}  // namespace ombrix::soak

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options = soak_options::parse(
      argc, argv, "usage: trickle_soak [--bin DIR] [--seconds N] [--clients N] [--limit N]");
  raise_file_limit();
  verdict result("trickling clients (" + std::to_string(options.clients) + " clients, " +
                 fixed(options.seconds) + " s" +
                 (options.limit > 0 ? ", held at most " + fixed(options.limit) + " s" : "") + ")");

  temp_dir data("ombrix-soak-trickle");
  create_main(options, data.str());
  server_process server(options.server(), data.str());

  const std::string head = endless_head();
  std::mt19937 random(12345);
  std::uniform_int_distribution<int> gap_ms(2000, 4000);
  std::vector<trickler> clients(static_cast<std::size_t>(options.clients));
  const auto deadline = deadline_after(options.seconds);
  for (auto& client : clients) {
    client.socket = connect_loopback(server.port());
    client.opened = clock_type::now();
    client.next_byte = client.opened;
    if (!client.socket.valid()) result.fail("could not connect a trickling client");
  }

  while (clock_type::now() < deadline) {
    std::vector<pollfd> waiting;
    for (auto& client : clients) {
      waiting.push_back({client.ended ? -1 : client.socket.fd(), POLLIN, 0});
    }
    ::poll(waiting.data(), waiting.size(), 50);
    const auto now = clock_type::now();
    bool any_open = false;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      trickler& client = clients[i];
      if (client.ended || !client.socket.valid()) continue;
      if (waiting[i].revents != 0) {
        char buffer[1024];
        const ssize_t got = ::recv(client.socket.fd(), buffer, sizeof buffer, 0);
        if (got > 0) {
          client.received.append(buffer, static_cast<std::size_t>(got));
        } else {
          end_client(client, now);
          continue;
        }
      }
      any_open = true;
      if (now >= client.next_byte && client.sent < head.size()) {
        if (!send_all(client.socket.fd(), std::string_view(head).substr(client.sent, 1))) {
          end_client(client, now);
          continue;
        }
        ++client.sent;
        client.next_byte = now + std::chrono::milliseconds(gap_ms(random));
      }
    }
    if (!any_open) break;
  }

  const auto end = clock_type::now();
  long still_held = 0;
  double longest = 0;
  std::string held_list;
  for (auto& client : clients) {
    if (!client.ended) {
      ++still_held;
      client.held_seconds = seconds_since(client.opened, end);
    }
    longest = std::max(longest, client.held_seconds);
    held_list += (held_list.empty() ? "" : ", ") + fixed(client.held_seconds) +
                 (client.ended ? "" : "+");
  }
  result.require(!server.has_exited(), "the server process ended during the run");
  result.note("held per client, s (+: still held when the run ended)", held_list);
  result.note("longest hold", fixed(longest) + " s" + (still_held > 0 ? " or more" : ""));
  result.note("still held at the end", std::to_string(still_held) + " of " + std::to_string(clients.size()));
  std::size_t answered = 0;
  for (const auto& client : clients) answered += client.received.empty() ? 0 : 1;
  result.note("ended with an answer", std::to_string(answered));
  if (options.limit > 0) {
    result.require(longest <= options.limit,
                   "a trickling client was held " + fixed(longest) + " s, more than " +
                       fixed(options.limit) + " s");
  }
  server.stop();
  return result.finish();
}
