// Bad-input soak: a corpus of malformed requests sent again and again. Every request must be
// answered or closed within the time-out, the process must never end, and a normal client must
// still be served after each round. Bounded by --seconds (and a round cap); loopback only.
#include <random>
#include <thread>

#include "tests/soak/soak_common.h"

namespace ombrix::soak {
namespace {

using namespace std::string_literals;

struct bad_request {
  std::string name;
  std::string bytes;
  bool half_close = true;  // end our side after sending, so that short bodies end at once
};

std::string nested(int depth, char open, char close, const std::string& inner) {
  return std::string(static_cast<size_t>(depth), open) + inner + std::string(static_cast<size_t>(depth), close);
}

std::string nested_objects(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "{\"a\":";
  text += "1";
  text += std::string(static_cast<size_t>(depth), '}');
  return text;
}

std::string with_body(std::string_view method, std::string_view target, std::string_view body,
                      const std::string& token, std::string_view extra_headers = {}) {
  std::string text = std::string(method) + " " + std::string(target) + " HTTP/1.1\r\nHost: 127.0.0.1\r\n";
  if (!token.empty()) text += "Authorization: Bearer " + token + "\r\n";
  text += extra_headers;
  text += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  text += body;
  return text;
}

std::vector<bad_request> corpus(const std::string& token) {
  const std::string auth = "Authorization: Bearer " + token + "\r\n";
  const std::string item = "/quelm/restfs/file/MAIN/DATA/DATA/BAD";  // never the normal client's item
  std::vector<bad_request> list;
  auto add = [&](std::string name, std::string bytes, bool half_close = true) {
    list.push_back({std::move(name), std::move(bytes), half_close});
  };
  // Content-Length abuse.
  add("content-length 2^31-1, 5 bytes", "PUT " + item + " HTTP/1.1\r\nHost: a\r\n" + auth +
                                          "Content-Length: 2147483647\r\n\r\n{\"da");
  add("content-length beyond 64 bits", "PUT " + item + " HTTP/1.1\r\nHost: a\r\n" + auth +
                                         "Content-Length: 99999999999999999999999\r\n\r\n{}");
  add("negative content-length with body", "PUT " + item + " HTTP/1.1\r\nHost: a\r\n" + auth +
                                               "Content-Length: -1\r\n\r\n{\"data\":[\"x\"]}");
  add("content-length -2^31", "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: -2147483648\r\n\r\n");
  add("two content-lengths", "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nContent-Length: 2\r\n"
                             "Content-Length: 900\r\n\r\n{}");
  add("chunked body", "POST /quelm/restfs/login HTTP/1.1\r\nHost: a\r\nTransfer-Encoding: chunked\r\n\r\n"
                      "2\r\n{}\r\n0\r\n\r\n");
  // Header floods and huge lines.
  {
    std::string flood = "GET /quelm/restfs/logout HTTP/1.1\r\nHost: a\r\n";
    for (int i = 0; i < 20000; ++i) flood += "X-H" + std::to_string(i) + ": v\r\n";
    add("20,000 distinct headers", flood + "\r\n");
    std::string same = "GET /quelm/restfs/logout HTTP/1.1\r\nHost: a\r\n";
    for (int i = 0; i < 20000; ++i) same += "X-Same: " + std::to_string(i) + "\r\n";
    add("20,000 copies of one header", same + "\r\n");
  }
  add("1 MiB header value", "GET /quelm/restfs/logout HTTP/1.1\r\nHost: a\r\nX-Big: " +
                                std::string(1 << 20, 'v') + "\r\n\r\n");
  add("1 MiB request line", "GET /" + std::string(1 << 20, 'a') + " HTTP/1.1\r\nHost: a\r\n\r\n");
  add("1 MiB escaped path", "GET /quelm/restfs/file/MAIN/DATA/DATA/" + [] {
    std::string s;
    for (int i = 0; i < (1 << 18); ++i) s += "%41";
    return s;
  }() + " HTTP/1.1\r\nHost: a\r\n" + auth + "\r\n");
  add("100 KiB method", std::string(100 << 10, 'G') + " / HTTP/1.1\r\nHost: a\r\n\r\n");
  add("100,000 query pairs", "GET /quelm/restfs/logout?" + [] {
    std::string s;
    for (int i = 0; i < 100000; ++i) s += "a" + std::to_string(i) + "=1&";
    return s;
  }() + " HTTP/1.1\r\nHost: a\r\n\r\n");
  add("1 MiB token", "GET /quelm/restfs/dir/MAIN HTTP/1.1\r\nHost: a\r\nAuthorization: Bearer " +
                         std::string(token_header) + "." + std::string(1 << 20, 'A') + "\r\n\r\n");
  // Invalid UTF-8.
  add("invalid UTF-8 escaped in path", "GET /quelm/restfs/file/MAIN/DATA/DATA/%FF%FE%C3 HTTP/1.1\r\nHost: a\r\n" +
                                           auth + "\r\n");
  add("invalid UTF-8 raw in path", "GET /quelm/restfs/file/MAIN/DATA/DATA/\xC3\x28\xFF HTTP/1.1\r\nHost: a\r\n" +
                                       auth + "\r\n");
  add("invalid UTF-8 in body", with_body("PUT", item, "{\"data\":[\"\xFF\xFE\xC0\"]}", token));
  add("truncated UTF-8 at end of body", with_body("PUT", item, "{\"data\":[\"ab\xE2\x82\"]}", token));
  add("lone surrogate escapes", with_body("PUT", "/quelm/restfs/file/MAIN/DATA/DATA/SURR",
                                          R"({"data":["\ud800","\udc00x","\ud83d"]})", token));
  add("invalid UTF-8 in newname", "GET /quelm/restfs/rename/MAIN/DATA/DATA/BAD?newname=MAIN/DATA/DATA/%FF HTTP/1.1\r\n"
                                  "Host: a\r\n" + auth + "\r\n");
  // Deep nesting.
  add("data nested 100,000 deep", with_body("PUT", item, "{\"data\":" + nested(100000, '[', ']', "\"x\"") + "}", token));
  add("login object nested 100,000 deep", with_body("POST", "/quelm/restfs/login", nested_objects(100000), ""));
  add("call args nested 100,000 deep",
      with_body("POST", "/quelm/restfs/call/ECHO", "{\"args\":" + nested(100000, '[', ']', "") + "}", token));
  add("cmd body nested 50,000 deep",
      with_body("POST", "/quelm/restfs/cmd/ECHO/MAIN/X", "{\"o\":" + nested_objects(50000) + "}", token));
  add("unbalanced brackets", with_body("PUT", item, "{\"data\":[[[}]]]", token));
  // NUL bytes.
  add("NUL in request line", "GET /quelm\0/restfs/logout HTTP/1.1\r\nHost: a\r\n\r\n"s);
  add("NUL in header", "GET /quelm/restfs/logout HTTP/1.1\r\nHost: a\0b\r\nX\0: y\r\n\r\n"s);
  add("NUL in body", with_body("PUT", item, "{\"data\":[\"a\0b\"]}"s, token));
  add("NUL in JSON string escape", with_body("PUT", item, R"({"data":["a\u0000b"]})", token));
  // CR LF in query values and other line tricks.
  add("CR LF in query value", "GET /quelm/restfs/dir/MAIN?a=%0D%0AQS_ATTR=16 HTTP/1.1\r\nHost: a\r\n" + auth + "\r\n");
  add("CR LF in form value", with_body("POST", "/quelm/restfs/login", "ServerName=%0D%0AHTTP_AUTHORIZATION=x", "",
                                       "Content-Type: application/x-www-form-urlencoded\r\n"));
  add("bare CRs", "GET /quelm/restfs/logout HTTP/1.1\rHost: a\r\r");
  add("only blank lines", "\r\n\r\n\r\n");
  add("HTTP/0.9 style", "GET /\r\n");
  add("malformed escapes", "GET /quelm/restfs/logout?a=%&b=%4&c=%zz HTTP/1.1\r\nHost: a\r\n\r\n");
  add("malformed escape in path", "GET /quelm/restfs/file/MAIN/%G1/X HTTP/1.1\r\nHost: a\r\n" + auth + "\r\n");
  add("unterminated JSON string", with_body("PUT", item, "{\"data\":[\"abc", token));
  add("backslash at end of JSON", with_body("PUT", item, "{\"data\":[\"abc\\", token));
  add("huge numbers in JSON", with_body("POST", "/quelm/restfs/cmd/ECHO/MAIN/X",
                                        "{\"a\":99999999999999999999999999,\"b\":1.0e99999,\"c\":-1.0e-99999}", token));
  {
    std::mt19937 random(42);
    std::string noise(64 << 10, '\0');
    for (auto& c : noise) c = static_cast<char>(random() & 0xFF);
    add("64 KiB of random bytes", noise);
  }
  return list;
}

}  // namespace
}  // namespace ombrix::soak

int main(int argc, char** argv) {
  using namespace ombrix::soak;
  soak_options options = soak_options::parse(argc, argv, "usage: bad_input_soak [--bin DIR] [--seconds N]");
  raise_file_limit();
  verdict result("bad input (" + fixed(options.seconds) + " s)");

  temp_dir data("ombrix-soak-bad");
  create_main(options, data.str(), "DATA");
  server_process server(options.server(), data.str());

  rest_client normal(server.port());
  const std::string expected = json_response(item_json("X", R"(["x"])"));
  if (!normal.login() || normal.put(api + "file/MAIN/DATA/DATA/X", R"({"data":["x"]})").raw != empty_success()) {
    result.fail("set-up failed: " + excerpt(normal.last().raw));
    return result.finish();
  }
  std::vector<bad_request> requests = corpus(normal.token());
  std::map<std::string, std::map<std::string, long>> outcomes;  // name -> status line or "closed"
  auto deadline = deadline_after(options.seconds);
  long sent = 0, rounds = 0;
  while (rounds < 1000 && (rounds == 0 || clock_type::now() < deadline)) {
    for (const auto& request : requests) {
      exchange_options exchange;
      exchange.half_close = request.half_close;
      exchange.timeout = 12s;
      read_result answer = http_exchange(server.port(), request.bytes, exchange);
      ++sent;
      std::string outcome;
      if (answer.bytes.starts_with("HTTP/1.1 ")) {
        outcome = answer.bytes.substr(0, answer.bytes.find("\r\n"));
      } else if (answer.timed_out) {
        outcome = "no answer within 12 s";
        result.fail(request.name + ": neither answered nor closed");
      } else {
        outcome = answer.reset ? "closed (reset)" : "closed";
      }
      ++outcomes[request.name][outcome];
      if (server.has_exited()) {
        result.fail("the server process ended after: " + request.name);
        break;
      }
    }
    if (server.has_exited()) break;
    // The server still serves a normal client.
    std::string got = normal.get(api + "file/MAIN/DATA/DATA/X").raw;
    result.require(got == expected, "normal request after round " + std::to_string(rounds) + ": " + excerpt(got));
    ++rounds;
  }
  result.note("rounds / requests sent", std::to_string(rounds) + " / " + std::to_string(sent));
  for (const auto& [name, counts] : outcomes) {
    std::string line;
    for (const auto& [outcome, count] : counts) line += (line.empty() ? "" : ", ") + outcome + " x" + std::to_string(count);
    result.note(name, line);
  }
  server.stop();
  return result.finish();
}
