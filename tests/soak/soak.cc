// The soak driver: one table of soaks run against the real server over loopback, each with its
// property and its bound, in a short variant (CI) and a long one (minutes).
//
//   soak [--bin DIR] [--long] [NAME...]
//
// Without names every soak runs. Exit code 0 when every property held, 1 when a soak reported a
// violation, 2 on bad usage.
#include <poll.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <mutex>
#include <random>
#include <thread>

#include "tests/e2e/server_process.h"

namespace ombrix::soak {
namespace {

using namespace ombrix::e2e;
using namespace std::string_literals;
using clock_type = std::chrono::steady_clock;

// A soak's values, from its line in the table.
struct soak_options {
  double seconds;
  int clients, connections, cycles;
  double limit;  // the soak's own bound
};

// Collects violated properties and the figures of one soak, printing them. Thread-safe.
class verdict {
 public:
  void fail(const std::string& what) {
    const std::lock_guard lock(mutex_);
    if (++failures_ <= 10) std::cout << "  VIOLATION: " << what << "\n";
  }
  void require(bool ok, const std::string& what) { if (!ok) fail(what); }
  void note(const std::string& key, const std::string& value) {
    const std::lock_guard lock(mutex_);
    std::cout << "   " << key << ": " << value << "\n";
  }
  long failures() const { return failures_; }

 private:
  std::mutex mutex_;
  std::atomic<long> failures_{0};
};

std::string fixed(double value, int digits = 1) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}
// A short printable excerpt of a response for violation messages.
std::string excerpt(std::string_view bytes) {
  std::string out;
  for (const char c : bytes.substr(0, 160)) out += c == '\r' ? "\\r"s : c == '\n' ? "\\n"s : std::string(1, static_cast<unsigned char>(c) < 0x20 ? '.' : c);
  return out.empty() ? "(nothing)" : bytes.size() > 160 ? out + "..." : out;
}
double seconds_since(clock_type::time_point start, clock_type::time_point now = clock_type::now()) {
  return std::chrono::duration<double>(now - start).count();
}
clock_type::time_point after(double seconds) { return clock_type::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000)); }
std::string proc(pid_t pid, const std::string& entry) { return "/proc/" + std::to_string(pid) + "/" + entry; }

// A field of /proc/PID/status in KiB ("VmHWM", "VmRSS"; "Threads" as a count); 0 when unread.
long status_field(pid_t pid, const std::string& name = "VmRSS") {
  std::ifstream status(proc(pid, "status"));
  for (std::string line; std::getline(status, line);) {
    if (line.starts_with(name + ":")) return std::atol(line.c_str() + name.size() + 1);
  }
  return 0;
}
long open_descriptors(pid_t pid) {
  std::error_code error;
  long count = 0;
  for (std::filesystem::directory_iterator it(proc(pid, "fd"), error), end; !error && it != end; it.increment(error)) ++count;
  return error ? -1 : count;
}

std::string body_of(std::string_view value) { return "{\"data\":[" + json_quote(value) + "]}"; }
std::string item_reply(std::string_view id, std::string_view value) { return json_response(item_json(id, "[" + json_quote(value) + "]")); }

// One soak's surroundings: the programs, a data root with account MAIN, the verdict.
struct soak_run {
  soak_run(std::string programs, soak_options chosen) : bin(std::move(programs)), options(chosen) {}
  std::string bin;
  soak_options options;
  verdict result;
  temp_dir data{"ombrix-soak"};

  // Account MAIN and, unless `file` is empty, its file `file`; false (and a violation) on failure.
  bool create_main(const std::string& file = {}) {
    for (std::vector<std::string> args : {std::vector<std::string>{"create-account", "MAIN"}, {"create-file", "MAIN", file}}) {
      if (args.back().empty()) break;
      args.insert(args.begin(), {bin + "/ombrix-admin", "--data", data.str()});
      const run_result run = run_program(args);
      if (!run.exited || run.exit_code != 0) return result.fail("ombrix-admin failed: " + run.err), false;
    }
    return true;
  }
  // The server, started under `command` (a wrapper such as prlimit) when given.
  std::unique_ptr<server_process> start(std::vector<std::string> args = {}, std::vector<std::string> command = {}) {
    command.push_back(bin + "/ombrix");
    return std::make_unique<server_process>(command, data.str(), std::move(args));
  }
  // A client logged in to MAIN, or a violation.
  bool logged_in(rest_client& client, const std::string& when) {
    result.require(client.login(), when + ": login failed: " + excerpt(client.last().raw));
    return !client.token().empty();
  }
  void still_running(server_process& server) { result.require(!server.has_exited(), "the server process ended during the run"); }
};

// Runs `body` on `count` threads (given their number) until they return; joins them all.
void on_threads(int count, const std::function<void(int)>& body) {
  std::vector<std::thread> threads;
  for (int n = 0; n < count; ++n) threads.emplace_back(body, n);
  for (auto& thread : threads) thread.join();
}

// ---- load: login, write, read, logout on every client; no acknowledged write lost, memory flat --

void load_soak(soak_run& run) {
  constexpr int shared_count = 8, own_per_client = 4;
  const std::string path = api + "file/MAIN/LOAD/LOAD/";
  if (!run.create_main("LOAD")) return;
  const auto server = run.start();
  struct acked_write { std::string value; clock_type::time_point sent, acked; };
  struct client_state {
    std::map<std::string, std::string> own;  // id -> last acknowledged value
    long requests = 0, iteration = 0;
  };
  std::mutex shared_mutex;
  std::map<int, std::vector<acked_write>> shared;  // acknowledged writes of the shared items
  std::vector<client_state> clients(static_cast<std::size_t>(run.options.clients));
  rest_client setup(server->port());
  if (!run.logged_in(setup, "set-up")) return;
  for (int i = 0; i < shared_count; ++i) run.result.require(setup.put(path + "S" + std::to_string(i), body_of("init")).raw == empty_success(), "shared item not made");
  const auto session = [&](int number, client_state& state) {
    rest_client client(server->port());
    // One request; true when its reply is `expected`.
    const auto expect = [&](std::string_view method, const std::string& target, std::string_view body, const std::string& expected) {
      const bool ok = client.call(method, target, body).raw == expected;
      ++state.requests;
      run.result.require(ok, std::string(method) + " " + target + ": expected " + excerpt(expected) + " got " + excerpt(client.last().raw));
      return ok;
    };
    ++state.requests;
    if (!client.login()) return run.result.fail("login: " + excerpt(client.last().raw));
    const std::string n = std::to_string(number), own_id = "O" + n + "_" + std::to_string(state.iteration % own_per_client);
    const std::string value = "c" + n + "-" + std::to_string(state.iteration) + " \xC3\xA9\xF0\x9F\x98\x80";
    if (expect("PUT", path + own_id, body_of(value), empty_success())) state.own[own_id] = value;
    if (const auto it = state.own.find(own_id); it != state.own.end()) expect("GET", path + own_id, {}, item_reply(own_id, it->second));
    const int item = static_cast<int>((number + state.iteration) % shared_count);
    const auto sent = clock_type::now();
    if (expect("PUT", path + "S" + std::to_string(item), body_of(value), empty_success())) {
      const std::lock_guard lock(shared_mutex);
      shared[item].push_back({value, sent, clock_type::now()});
    }
    expect("GET", api + "logout", {}, empty_success());
  };
  const auto phase = [&](double seconds) {
    const auto deadline = after(seconds);
    on_threads(run.options.clients, [&](int n) {
      for (client_state& state = clients[n]; clock_type::now() < deadline && state.iteration < 1'000'000; ++state.iteration) session(n, state);
    });
  };
  // Warm-up with the same mix (threads, allocator arenas and the host's pool reach their working
  // size), as long as the measured phase between 2 and 5 s: a leak of more than about 50 bytes
  // per request still shows as more than 10 % over the measured phase.
  phase(std::min(5.0, std::max(2.0, run.options.seconds)));
  std::this_thread::sleep_for(1500ms);
  long requests_before = 0, requests = 0;
  for (const auto& state : clients) requests_before += state.requests;
  const long rss_before = status_field(server->pid());
  const auto start = clock_type::now();
  phase(run.options.seconds);
  const double elapsed = seconds_since(start);
  std::this_thread::sleep_for(2s);
  const long rss_after = status_field(server->pid());
  run.still_running(*server);

  rest_client checker(server->port());
  if (!run.logged_in(checker, "final check")) return;
  for (const client_state& state : clients) {
    requests += state.requests;
    for (const auto& [id, value] : state.own) {
      run.result.require(checker.get(path + id).raw == item_reply(id, value), "final " + id + " is not the last acknowledged write");
    }
  }
  for (int i = 0; i < shared_count; ++i) {
    const std::string id = "S" + std::to_string(i), got = checker.get(path + id).raw;
    const std::vector<acked_write>& writes = shared[i];
    // The value of an acknowledged write after whose acknowledgement no other write started.
    bool valid = writes.empty() && got == item_reply(id, "init");
    for (const auto& write : writes) {
      if (got != item_reply(id, write.value)) continue;
      valid = std::none_of(writes.begin(), writes.end(), [&](const acked_write& other) { return other.sent > write.acked; });
      break;
    }
    run.result.require(valid, "final shared " + id + " is not a last acknowledged write: " + excerpt(got));
  }
  // SQLite's page cache on each pooled connection fills as the database grows: up to a few MiB
  // that are no leak, hence the floor of 2 MiB under the 10 % bound.
  const long allowed = std::max(rss_before / 10, 2048L);
  run.result.require(rss_after <= rss_before + allowed, "RSS after load " + std::to_string(rss_after) + " KiB is more than " +
                                                            std::to_string(allowed) + " KiB above " + std::to_string(rss_before));
  run.result.note("requests in the load phase / RSS before, after", std::to_string(requests - requests_before) + " in " + fixed(elapsed) + " s / " +
                                                                        std::to_string(rss_before) + ", " + std::to_string(rss_after) + " KiB");
}

// ---- slow clients: a head trickled a byte every 2 to 4 s is cut off within `limit` seconds -----

void slow_clients_soak(soak_run& run) {
  if (!run.create_main()) return;
  const auto server = run.start();
  // Longer than any run trickles: the server never sees the end of the head.
  const std::string head = "GET " + api + "dir/MAIN HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Trickle: " + std::string(4096, 'a');
  struct trickler {
    client_socket socket;
    clock_type::time_point opened = clock_type::now(), next_byte = opened;
    std::size_t sent = 0;
    double held = -1;  // seconds, once the server ended the connection
  };
  std::mt19937 random(12345);
  std::vector<trickler> clients(static_cast<std::size_t>(run.options.clients));
  for (auto& client : clients) {
    client.socket = connect_loopback(server->port());
    run.result.require(client.socket.valid(), "could not connect a trickling client");
  }
  const auto deadline = after(run.options.seconds);
  for (bool any_open = true; any_open && clock_type::now() < deadline;) {
    std::vector<pollfd> waiting;
    for (const auto& client : clients) waiting.push_back({client.held < 0 ? client.socket.fd() : -1, POLLIN, 0});
    ::poll(waiting.data(), waiting.size(), 50);
    const auto now = clock_type::now();
    any_open = false;
    for (std::size_t i = 0; i < clients.size(); ++i) {
      trickler& client = clients[i];
      char buffer[1024];
      if (client.held >= 0 || !client.socket.valid()) continue;
      if ((waiting[i].revents != 0 && ::recv(client.socket.fd(), buffer, sizeof buffer, 0) <= 0) ||
          (now >= client.next_byte && !send_all(client.socket.fd(), std::string_view(head).substr(client.sent++, 1)))) {
        client.held = seconds_since(client.opened, now);
        client.socket.reset();
        continue;
      }
      if (now >= client.next_byte) client.next_byte = now + std::chrono::milliseconds(std::uniform_int_distribution<int>(2000, 4000)(random));
      any_open = true;
    }
  }
  double longest = 0;
  std::string held_list;
  for (auto& client : clients) {
    const bool still_held = client.held < 0;
    longest = std::max(longest, still_held ? seconds_since(client.opened) : client.held);
    held_list += (held_list.empty() ? "" : ", ") + fixed(still_held ? seconds_since(client.opened) : client.held) + (still_held ? "+" : "");
  }
  run.still_running(*server);
  run.result.note("held per client, s (+: still held when the run ended)", held_list);
  run.result.require(longest <= run.options.limit, "a trickling client was held " + fixed(longest) + " s, more than " + fixed(run.options.limit));
}

// ---- crash and rename crash: kill -9 at a random moment while clients write or rename --------

// `cycles` + 1 server runs, generations 8.0 and 7.1 in turn; in all but the last `clients` writers
// (W<n>, a rising number) and `connections` renamers (A<n> to B<n> and back) work until a kill 200
// ms to the cycle's time in. After each start every W<n> holds its acknowledged number or the one
// in flight, and every item is under exactly one id, whole; at the end every database is sound.
void crash_soak(soak_run& run) {
  const int writers = run.options.clients, renamers = run.options.connections, items = renamers > 0 ? 30 : 0;
  const std::string dir = "MAIN/CRASH/CRASH/", path = api + "file/" + dir, rename = api + "rename/" + dir;
  const auto content = [](int n) { return "[\"item " + std::to_string(n) + "\",\"" + std::string(2000, static_cast<char>('a' + n % 26)) + "\"]"; };
  if (!run.create_main("CRASH")) return;
  struct writer { std::atomic<long> acked{0}, in_flight{0}; };  // 0: none
  std::vector<writer> states(static_cast<std::size_t>(writers));
  std::atomic<long> total_acked{0};
  std::mt19937 random(std::random_device{}());
  for (int cycle = 0; cycle <= run.options.cycles && run.result.failures() == 0; ++cycle) {
    const auto server = run.start({"-n", cycle % 2 == 0 ? "80" : "71"});
    rest_client checker(server->port());
    if (!run.logged_in(checker, "after restart")) return;
    const std::string when = "cycle " + std::to_string(cycle) + ": ";
    for (int n = 0; n < writers; ++n) {  // 0 when missing, -1 when unreadable
      const http_response got = checker.get(path + "W" + std::to_string(n));
      const std::size_t at = got.body.find("\"data\":[\"");
      const long stored = got.status == 404 ? 0 : got.status == 200 && at != std::string::npos ? std::atol(got.body.c_str() + at + 9) : -1;
      writer& state = states[n];
      run.result.require(stored == state.acked || (state.in_flight != 0 && stored == state.in_flight),
                         when + "W" + std::to_string(n) + " holds " + std::to_string(stored) + ", acknowledged " + std::to_string(state.acked));
      if (stored > state.acked) state.acked = stored;  // an unanswered write that did commit
      state.in_flight = 0;
    }
    for (int n = 0; n < items; ++n) {
      const std::string a = "A" + std::to_string(n), b = "B" + std::to_string(n);
      if (cycle == 0) {
        run.result.require(checker.put(path + a, "{\"data\":" + content(n) + "}").status == 200, "seed write: " + excerpt(checker.last().raw));
        continue;
      }
      const http_response at_a = checker.get(path + a), at_b = checker.get(path + b);
      const int present = (at_a.status == 200) + (at_b.status == 200);
      const http_response& found = at_a.status == 200 ? at_a : at_b;
      run.result.require(present == 1, when + "item " + std::to_string(n) + " exists under " + std::to_string(present) + " ids");
      run.result.require(present == 0 || found.body == item_json(at_a.status == 200 ? a : b, content(n)) + "\r\n", when + a + " holds " + excerpt(found.body));
    }
    if (cycle == run.options.cycles) break;
    const double window = std::max(0.4, run.options.seconds);
    const auto deadline = after(window + 2);
    std::thread killer([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(200, static_cast<int>(window * 1000))(random)));
      server->stop(SIGKILL);
    });
    on_threads(writers + renamers, [&](int n) {
      rest_client client(server->port());
      std::mt19937 pick(static_cast<unsigned>(n) * 7919u + static_cast<unsigned>(std::random_device{}()));
      for (bool up = client.login(); up && clock_type::now() < deadline;) {
        if (n >= writers) {
          const std::string i = std::to_string(pick() % static_cast<unsigned>(items));
          if (client.get(rename + "A" + i + "?newname=" + dir + "B" + i).status == 404) client.get(rename + "B" + i + "?newname=" + dir + "A" + i);
          up = client.last().status != 0;  // 0: the server went away
          continue;
        }
        writer& state = states[n];
        state.in_flight = state.acked + 1;
        up = client.put(path + "W" + std::to_string(n), "{\"data\":[\"" + std::to_string(state.in_flight) + "\",\"" + std::string(200, 'x') + "\"]}").raw == empty_success();
        if (up) state.acked = state.in_flight.exchange(0), ++total_acked;
      }
    });
    killer.join();
  }
  int databases = 0;
  for (const auto& entry : std::filesystem::directory_iterator(run.data.path())) {
    if (entry.path().extension() != ".db") continue;
    ++databases;
    const run_result check = run_program({"/usr/bin/env", "sqlite3", entry.path().string(), "PRAGMA integrity_check;"}, {}, 60s);
    run.result.require(check.exit_code == 0 && check.out == "ok\n", "integrity_check of " + entry.path().filename().string() + ": " + check.out + check.err);
  }
  run.result.require(databases > 0, "no account database found in the data root");
  if (writers > 0) run.result.note("writes answered 200", std::to_string(total_acked.load()));
}

// ---- bad input: a corpus of malformed requests; each answered or closed, the server serving ----

std::vector<std::pair<std::string, std::string>> bad_requests(const std::string& token) {
  const std::string auth = "Authorization: Bearer " + token + "\r\n", item = api + "file/MAIN/DATA/DATA/BAD";  // not the normal client's
  const auto repeat = [](int times, const std::function<std::string(int)>& piece) {
    std::string text;
    for (int i = 0; i < times; ++i) text += piece(i);
    return text;
  };
  const auto body = [&](std::string_view method, const std::string& target, const std::string& content, const std::string& headers = {}) {
    return std::string(method) + " " + target + " HTTP/1.1\r\nHost: a\r\n" + headers + "Content-Length: " + std::to_string(content.size()) + "\r\n\r\n" + content;
  };
  const auto nested = [&](int depth, const std::string& open, const std::string& inner, char close) {
    return repeat(depth, [&](int) { return open; }) + inner + std::string(static_cast<std::size_t>(depth), close);
  };
  const std::string put_head = "PUT " + item + " HTTP/1.1\r\nHost: a\r\n" + auth, logout = "GET " + api + "logout HTTP/1.1\r\nHost: a\r\n";
  const std::string login = "POST " + api + "login HTTP/1.1\r\nHost: a\r\n";
  std::mt19937 random(42);
  std::string noise(64 << 10, '\0');
  for (char& c : noise) c = static_cast<char>(random() & 0xFF);
  return {
      {"content-length 2^31-1, 5 bytes", put_head + "Content-Length: 2147483647\r\n\r\n{\"da"},
      {"content-length beyond 64 bits", put_head + "Content-Length: 99999999999999999999999\r\n\r\n{}"},
      {"negative content-length with body", put_head + "Content-Length: -1\r\n\r\n{\"data\":[\"x\"]}"},
      {"two content-lengths", login + "Content-Length: 2\r\nContent-Length: 900\r\n\r\n{}"},
      {"chunked body", login + "Transfer-Encoding: chunked\r\n\r\n2\r\n{}\r\n0\r\n\r\n"},
      {"20,000 headers", logout + repeat(20000, [](int i) { return "X-H" + std::to_string(i) + ": v\r\n"; }) + "\r\n"},
      {"100,000 query pairs", "GET " + api + "logout?" + repeat(100000, [](int i) { return "a" + std::to_string(i) + "=1&"; }) + " HTTP/1.1\r\nHost: a\r\n\r\n"},
      {"1 MiB token", "GET " + api + "dir/MAIN HTTP/1.1\r\nHost: a\r\nAuthorization: Bearer " + std::string(token_header) + "." + std::string(1 << 20, 'A') + "\r\n\r\n"},
      {"truncated UTF-8 at end of body", body("PUT", item, "{\"data\":[\"ab\xE2\x82\"]}", auth)},
      {"lone surrogate escapes", body("PUT", item, R"({"data":["\ud800","\udc00x","\ud83d"]})", auth)},
      {"invalid UTF-8 in newname", "GET " + api + "rename/MAIN/DATA/DATA/BAD?newname=MAIN/DATA/DATA/%FF HTTP/1.1\r\nHost: a\r\n" + auth + "\r\n"},
      {"data nested 100,000 deep", body("PUT", item, "{\"data\":" + nested(100000, "[", "\"x\"", ']') + "}", auth)},
      {"call args nested 100,000 deep", body("POST", api + "call/ECHO", "{\"args\":" + nested(100000, "[", "", ']') + "}", auth)},
      {"NUL in header", "GET /quelm/restfs/logout HTTP/1.1\r\nHost: a\0b\r\nX\0: y\r\n\r\n"s},
      {"NUL escaped in JSON", body("PUT", item, R"({"data":["a\u0000b"]})", auth)},
      {"CR LF in query value", "GET " + api + "dir/MAIN?a=%0D%0AQS_ATTR=16 HTTP/1.1\r\nHost: a\r\n" + auth + "\r\n"},
      {"CR LF in form value", body("POST", api + "login", "ServerName=%0D%0AHTTP_AUTHORIZATION=x", "Content-Type: application/x-www-form-urlencoded\r\n")},
      {"malformed escape in path", "GET " + api + "file/MAIN/%G1/X HTTP/1.1\r\nHost: a\r\n" + auth + "\r\n"},
      {"huge numbers in JSON", body("POST", api + "cmd/ECHO/MAIN/X", "{\"a\":99999999999999999999999999,\"b\":1.0e99999,\"c\":-1.0e-99999}", auth)},
      {"64 KiB of random bytes", noise},
  };
}

void bad_input_soak(soak_run& run) {
  if (!run.create_main("DATA")) return;
  const auto server = run.start();
  rest_client normal(server->port());
  const std::string data_item = api + "file/MAIN/DATA/DATA/X";
  if (!run.logged_in(normal, "set-up") || normal.put(data_item, body_of("x")).raw != empty_success()) return run.result.fail("set-up write");
  const auto requests = bad_requests(normal.token());
  std::map<std::string, long> outcomes;  // status line or "closed" -> count
  long rounds = 0;
  for (const auto deadline = after(run.options.seconds); rounds < 1000 && (rounds == 0 || clock_type::now() < deadline); ++rounds) {
    for (const auto& [name, bytes] : requests) {
      const read_result answer = http_exchange(server->port(), bytes, {true, 12s});  // our side ends after the request
      run.result.require(!answer.timed_out, name + ": neither answered nor closed");
      ++outcomes[answer.bytes.starts_with("HTTP/1.1 ") ? answer.bytes.substr(0, answer.bytes.find("\r\n")) : answer.timed_out ? "no answer" : "closed"];
      if (server->has_exited()) return run.result.fail("the server process ended after: " + name);
    }
    run.result.require(normal.get(data_item).raw == item_reply("X", "x"), "normal request after round " + std::to_string(rounds) + ": " + excerpt(normal.last().raw));
  }
  std::string line;
  for (const auto& [outcome, count] : outcomes) line += (line.empty() ? "" : ", ") + outcome + " x" + std::to_string(count);
  run.result.note(std::to_string(rounds) + " rounds of " + std::to_string(requests.size()) + " requests", line);
}

// ---- big body: a 50 MiB PUT (creating, replacing) and its GET against resident memory ----------

void big_body_soak(soak_run& run) {
  const long mib = static_cast<long>(run.options.limit);
  if (!run.create_main("DATA")) return;
  const auto server = run.start();
  const pid_t pid = server->pid();
  rest_client client(server->port());
  if (!run.logged_in(client, "set-up")) return;
  // One attribute of plain letters: the JSON text is the item's size plus a few bytes.
  const std::string value(static_cast<std::size_t>(mib) << 20, 'q'), body = body_of(value);
  std::this_thread::sleep_for(200ms);
  const long idle_kib = status_field(pid);
  // One request while resident memory is sampled; its peak in KiB over the idle level relative
  // to the item (the kernel's high-water mark is reset first, so that it covers this request).
  const auto ratio = [&](const std::string& method, const std::string& payload, http_response& response) {
    std::ofstream clear(proc(pid, "clear_refs"));
    const bool reset = static_cast<bool>(clear << "5" << std::flush);
    std::atomic<bool> sampling{true};
    std::atomic<long> peak{status_field(pid)};
    std::thread sampler([&] {
      for (; sampling; std::this_thread::sleep_for(5ms)) peak = std::max(peak.load(), status_field(pid));
    });
    const std::string request = http_request(method, api + "file/MAIN/DATA/DATA/BIG", payload, {"Authorization: Bearer " + client.token()});
    response = parse_response(http_exchange(server->port(), request, {false, 120s}).bytes);
    sampling = false;
    sampler.join();
    const long top = reset ? std::max(peak.load(), status_field(pid, "VmHWM")) : peak.load();
    return static_cast<double>(top - idle_kib) / 1024.0 / static_cast<double>(mib);
  };
  http_response put, replace, get;
  const double create_ratio = ratio("PUT", body, put), replace_ratio = ratio("PUT", body, replace);  // the old text is in the way now
  const double get_ratio = ratio("GET", {}, get);
  run.result.require(put.raw == empty_success(), "the PUT failed: " + excerpt(put.raw));
  run.result.require(replace.raw == empty_success(), "the second PUT failed: " + excerpt(replace.raw));
  run.result.require(get.status == 200 && get.body.find(value) != std::string::npos, "the GET did not return the item: " + excerpt(get.raw));
  run.result.note("idle RSS; peak over idle / the item: PUT creating, replacing; GET (aims: 3, 1.5)",
                  fixed(static_cast<double>(idle_kib) / 1024.0) + " MiB; " + fixed(create_ratio, 2) + ", " + fixed(replace_ratio, 2) + "; " + fixed(get_ratio, 2));
  run.result.require(std::max(create_ratio, replace_ratio) <= 3.0, "the PUT's peak passed 3 x the item");
  run.result.require(get_ratio <= 1.5, "the GET's peak passed 1.5 x the item");
}

// ---- accounts: thousands of accounts round-robin under a low descriptor limit ------------------

void accounts_soak(soak_run& run) {
  const int limit = static_cast<int>(run.options.limit);
  if (!run.create_main()) return;
  // Account files are copies of MAIN's database: the master dictionary keeps its name.
  for (int n = 0; n < run.options.clients; ++n) {
    std::filesystem::copy_file(run.data.path() / "MAIN.db", run.data.path() / ("A" + std::to_string(n) + ".db"));
  }
  // prlimit sets soft and hard alike (raising the soft limit gains nothing) and runs the server.
  const auto server = run.start({}, {"prlimit", "--nofile=" + std::to_string(limit) + ":" + std::to_string(limit), "--"});
  long answered = 0, most_open = 0;
  for (int round = 0; round < 2; ++round) {
    for (int n = 0; n < run.options.clients && run.result.failures() < 10; ++n) {
      const std::string name = "A" + std::to_string(n);
      rest_client client(server->port());
      const bool listed = client.login("{\"ServerName\":\"" + name + "\"}") && client.get(api + "dir/" + name).status == 200;
      run.result.require(listed, "login to and dir of " + name + ": " + excerpt(client.last().raw));
      answered += listed;
      if (n % 100 == 0) most_open = std::max(most_open, open_descriptors(server->pid()));
    }
  }
  rest_client default_account(server->port());
  run.result.require(default_account.login() && default_account.get(api + "dir/MAIN").status == 200,
                     "the default account: " + excerpt(default_account.last().raw));
  most_open = std::max(most_open, open_descriptors(server->pid()));
  // The open accounts are bounded (32, a few descriptors each) whatever the number touched.
  run.result.require(most_open < limit / 4, "the server held " + std::to_string(most_open) + " descriptors (limit " + std::to_string(limit) + ")");
  run.result.note("listings answered / most descriptors open", std::to_string(answered) + " / " + std::to_string(most_open));
}

struct soak_entry {
  const char* name;
  void (*run)(soak_run&);
  soak_options short_run, long_run;  // {seconds, clients, connections, cycles, limit}
};

// The bounds the README's robustness table quotes are these soaks' own.
const soak_entry soaks[] = {
    {"load", load_soak, {5, 64, 0, 0, 0}, {180, 64, 0, 0, 0}},
    // A handful of trickling clients when short, bounded: cut off within 10 s plus the gap.
    {"slow_clients", slow_clients_soak, {14, 4, 0, 0, 12}, {40, 32, 0, 0, 30}},
    {"crash", crash_soak, {1.5, 16, 0, 3, 0}, {5, 16, 0, 20, 0}},  // 16 writers
    {"rename_crash", crash_soak, {0.8, 0, 4, 6, 0}, {3, 0, 4, 40, 0}},  // 4 renamers
    {"bad_input", bad_input_soak, {3, 0, 0, 0, 0}, {120, 0, 0, 0, 0}},
    {"big_body", big_body_soak, {0, 0, 0, 0, 50}, {0, 0, 0, 0, 50}},
    {"accounts", accounts_soak, {0, 2000, 0, 0, 1024}, {0, 5000, 0, 0, 1024}},
};

int run_soaks(int argc, char** argv) {
  std::string bin = "build";
  bool long_runs = false;
  std::vector<std::string> names;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--bin" && i + 1 < argc) {
      bin = argv[++i];
    } else if (word == "--long") {
      long_runs = true;
    } else if (std::any_of(std::begin(soaks), std::end(soaks), [&](const soak_entry& s) { return word == s.name; })) {
      names.push_back(word);
    } else {
      std::cerr << "usage: soak [--bin DIR] [--long] [NAME...], NAME one of the soaks of its table\n";
      return 2;
    }
  }
  int passed = 0, failed = 0;
  for (const soak_entry& soak : soaks) {
    if (!names.empty() && std::find(names.begin(), names.end(), soak.name) == names.end()) continue;
    soak_run run(bin, long_runs ? soak.long_run : soak.short_run);
    std::cout << "-- " << soak.name << std::endl;
    try {
      soak.run(run);
    } catch (const std::exception& error) {
      run.result.fail(std::string("stopped by an exception: ") + error.what());
    }
    const bool ok = run.result.failures() == 0;
    std::cout << "== " << soak.name << ": " << (ok ? "PASS" : "FAIL") << std::endl;
    (ok ? passed : failed) += 1;
  }
  std::cout << "soak (" << (long_runs ? "long" : "short") << "): " << passed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}

}  // namespace
}  // namespace ombrix::soak

int main(int argc, char** argv) { return ombrix::soak::run_soaks(argc, argv); }
