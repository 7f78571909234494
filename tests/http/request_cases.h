// The request table shared by the request reader's tests over a memory stream and the
// connection's tests over a real socket pair: each request with the exact response and what the
// stand-in dispatcher must see. Not thread-safe: a call records into the caller's struct.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "base/settings.h"
#include "http/request_handler.h"
#include "http/response_writer.h"
#include "tests/expected_bytes.h"

namespace ombrix::test {

using namespace std::string_literals;

inline constexpr std::int32_t connection_number = 42;
inline constexpr std::uint16_t server_port = 3181;
inline constexpr char peer_text[] = "127.0.0.1";
inline const std::string ok_reply = "Content-Type:application/json\r\n\r\n{\"ok\":true}\r\n";
inline const std::string ok_response = header_block(200) + "Content-Length: 13\r\n" + ok_reply;
inline const std::string bad_content_length = http_error(400, "bad content-length");
inline const std::string continue_line = "HTTP/1.1 100 Continue\r\n\r\n";
inline const std::string form_type = "Content-Type: application/x-www-form-urlencoded\r\n";

// What the stand-in dispatcher does, and what it saw.
enum class outcome { reply, throw_runtime_error, throw_bad_alloc };
struct script { std::string reply = ok_reply; outcome action = outcome::reply; };
struct recorded_call { bool called = false; std::int32_t connection = 0; std::string environment, body; };

inline rest_dispatcher stand_in(const script& plan, recorded_call& call) {
  return [&plan, &call](std::int32_t connection, const std::string& environment, const std::string& body, dispatch_reply& reply) {
    call = {true, connection, environment, body};
    if (plan.action == outcome::throw_runtime_error) throw std::runtime_error("host failure");
    if (plan.action == outcome::throw_bad_alloc) throw std::bad_alloc();
    reply.text = plan.reply;
    return 200;
  };
}

struct exchange { std::string response; int returned = -1; recorded_call call; };

struct request_case {
  const char* name;
  std::string request, response;
  int returned = 0;
  bool needs_end_of_input = false;  // the server needs the client's half-close to finish the request
  std::string environment = {};     // what the dispatcher must see; empty: it must not be reached
  std::string body = {};
  script plan = {};
};
inline void PrintTo(const request_case& c, std::ostream* out) { *out << c.name; }

// The environment text: the peer lines, then `lines` with '|' standing for CR LF.
inline std::string env(std::string_view lines) {
  std::string text = "REMOTE_ADDR=127.0.0.1\r\nREMOTE_HOST=127.0.0.1\r\n";
  for (char c : lines) c == '|' ? text.append("\r\n") : text.append(1, c);
  return text.append("\r\n");
}
inline request_case served(const char* name, std::string request, std::string_view lines, std::string body = {}, bool needs_end_of_input = false) {
  return {name, std::move(request), ok_response, 0, needs_end_of_input, env(lines), std::move(body)};
}

inline const std::string binary_body = std::string(300, '\xFF') + "\0\x01\xFE\xFF\0"s + std::string(200, '\0') + "\xFF";
inline const std::string chunked_put = "PUT /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";

inline std::vector<request_case> request_cases() {
  const std::string unknown_error = unknown_error_response(), method_not_allowed = http_error(405), path_missing = http_error(400, "path missing");
  const std::string bad_header = http_error(400, "bad header"), missing_host = http_error(400, "missing HOST header");
  const std::string bad_query_string = http_error(400, "bad query string"), bad_chunked_body = http_error(400, "bad chunked body");
  const std::string get = "GET /x HTTP/1.1\r\nHost: h\r\n\r\n", get_lines = "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h";
  return {
      // Checks in their order: method, path, headers, HOST, body length.
      {"lower_case_method", "get / HTTP/1.1\r\nHost: h\r\n\r\n", method_not_allowed, 405},
      {"empty_connection", "", method_not_allowed, 405, true},
      {"unknown_method", "PATCH / HTTP/1.1\r\nHost: h\r\n\r\n", method_not_allowed, 405},
      {"absolute_form_target", "GET http://h/x HTTP/1.1\r\nHost: h\r\n\r\n", path_missing, 400},
      {"query_without_path", "GET ?a=1 HTTP/1.1\r\nHost: h\r\n\r\n", path_missing, 400},
      {"path_checked_before_headers", "GET x HTTP/1.1\r\nno colon\r\n\r\n", path_missing, 400},
      {"header_without_colon", "GET / HTTP/1.1\r\nHost: h\r\nNoColon\r\n\r\n", bad_header, 400},
      {"bad_header_checked_before_host", "GET / HTTP/1.1\r\nNoColon\r\n\r\n", bad_header, 400},
      {"missing_host", "GET / HTTP/1.1\r\nX-A: 1\r\n\r\n", missing_host, 400},
      {"blank_host", "GET / HTTP/1.1\r\nHost:  \t \r\n\r\n", missing_host, 400},
      {"host_checked_before_body", "POST / HTTP/1.1\r\nContent-Length: 5\r\n\r\nab", missing_host, 400, true},
      {"short_body", "POST / HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n\r\nabc", bad_content_length, 400, true},
      // 4294967301 wraps around to 5 in 32 bits, which would make "abcde" a complete body.
      {"content_length_saturates", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 4294967301\r\n\r\nabcde", bad_content_length, 400, true},
      {"malformed_escape_in_query", "GET /x?a=1&b=%zz HTTP/1.1\r\nHost: h\r\n\r\n", unknown_error, 500},
      {"malformed_escape_in_form", "POST /x HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 5\r\n\r\na=%zz", unknown_error, 500},
      {"line_break_in_query", "GET /x?a=1%0D%0AQS_ADMIN=1 HTTP/1.1\r\nHost: h\r\n\r\n", bad_query_string, 400},
      {"line_break_in_form", "POST /x HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 7\r\n\r\na=1%0Ab", bad_query_string, 400},
      // Chunked bodies: a stream that breaks the coding never reaches the dispatcher.
      {"chunk_size_not_hexadecimal", chunked_put + "zz\r\nhello\r\n0\r\n\r\n", bad_chunked_body, 400},
      {"chunk_data_longer_than_its_size", chunked_put + "3\r\nhello\r\n0\r\n\r\n", bad_chunked_body, 400},
      {"chunk_size_line_without_end", chunked_put + std::string(5000, '1'), bad_chunked_body, 400},
      {"chunked_body_cut_off", chunked_put + "5\r\nhel", bad_chunked_body, 400, true},
      {"chunk_beyond_the_body_limit", chunked_put + "8000001\r\nabc", http_error(413, "request body too large"), 413},
      {"transfer_coding_not_understood", "PUT /x HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: gzip, chunked\r\n\r\n0\r\n\r\n", http_error(501, "transfer coding not supported"), 501},
      // A client waiting for leave to send a body the head already refuses is not asked for it.
      {"expect_with_a_body_over_the_limit", "PUT /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 134217729\r\n\r\n", http_error(413, "request body too large"), 413},
      served("full_environment", "POST /quelm/restfs/file/X?b=2&a=1&a=3 HTTP/1.1\r\nHost: localhost:3181\r\nX-Token: first\r\n" + form_type + "x-token: second\r\nRemote-User: alice\r\nContent-Length: 7\r\nAuthorization: Bearer abc\r\n\r\nc=4&d=5", "REMOTE_USER=alice|PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=application/x-www-form-urlencoded|CONTENT_LENGTH=7|REQUEST_METHOD=POST|PATH_INFO=/quelm/restfs/file/X|SERVER_PORT=3181|HTTP_AUTHORIZATION=Bearer abc|HTTP_CONTENT_LENGTH=7|HTTP_CONTENT_TYPE=application/x-www-form-urlencoded|HTTP_HOST=localhost:3181|HTTP_REMOTE_USER=alice|HTTP_X_TOKEN=first|QS_B=2|QS_A=1|QS_A=3|QS_C=4|QS_D=5", "c=4&d=5"),
      served("path_and_query", "GET /quelm/restfs/dir?x=1 HTTP/1.1\r\nhost: h\r\n\r\n", "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/quelm/restfs/dir|SERVER_PORT=3181|HTTP_HOST=h|QS_X=1"),
      served("path_not_decoded", "GET /a%20b+c?q=%41 HTTP/1.1\r\nHOST: h\r\n\r\n", "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/a%20b+c|SERVER_PORT=3181|HTTP_HOST=h|QS_Q=A"),
      served("negative_content_length_reads_no_body", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: -5\r\n\r\nxyz", "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=-5|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=-5|HTTP_HOST=h"),
      served("atoi_like_content_length", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: +3xyz\r\n\r\nabcdef", "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=3|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=+3xyz|HTTP_HOST=h", "abc"),
      served("form_with_parameters_not_parsed", "POST /x?q=0 HTTP/1.1\r\nHost: h\r\nContent-Type: application/x-www-form-urlencoded; charset=utf-8\r\nContent-Length: 7\r\n\r\na=1&b=2", "PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=application/x-www-form-urlencoded; charset=utf-8|CONTENT_LENGTH=7|REQUEST_METHOD=POST|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=7|HTTP_CONTENT_TYPE=application/x-www-form-urlencoded; charset=utf-8|HTTP_HOST=h|QS_Q=0", "a=1&b=2"),
      served("form_type_ignores_letter_case", "POST /x?q=0 HTTP/1.1\r\nHost: h\r\nContent-Type: Application/X-WWW-Form-Urlencoded\r\nContent-Length: 7\r\n\r\na=1&b=2", "PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=Application/X-WWW-Form-Urlencoded|CONTENT_LENGTH=7|REQUEST_METHOD=POST|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=7|HTTP_CONTENT_TYPE=Application/X-WWW-Form-Urlencoded|HTTP_HOST=h|QS_Q=0|QS_A=1|QS_B=2", "a=1&b=2"),
      served("form_only_for_post", "PUT /x HTTP/1.1\r\nHost: h\r\n" + form_type + "Content-Length: 3\r\n\r\na=1", "PROTOCOL_VERSION=HTTP/1.1|CONTENT_TYPE=application/x-www-form-urlencoded|CONTENT_LENGTH=3|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=3|HTTP_CONTENT_TYPE=application/x-www-form-urlencoded|HTTP_HOST=h", "a=1"),
      served("binary_body_unchanged", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: " + std::to_string(binary_body.size()) + "\r\n\r\n" + binary_body, "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=506|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=506|HTTP_HOST=h", binary_body),
      served("header_names_in_byte_order_values_trimmed", "OPTIONS /x HTTP/1.1\nX-A:\t v \t\nX B: 1\n:empty\nHost: h\n\n", "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=OPTIONS|PATH_INFO=/x|SERVER_PORT=3181|HTTP_=empty|HTTP_HOST=h|HTTP_X B=1|HTTP_X_A=v"),
      served("no_protocol_version", "DELETE /x\r\nHost: h\r\n\r\n", "REQUEST_METHOD=DELETE|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h"),
      served("extra_words_ignored", "HEAD  /x   HTTP/1.0 more words\r\nHost: h\r\n\r\n", "PROTOCOL_VERSION=HTTP/1.0|REQUEST_METHOD=HEAD|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h"),
      served("chunked_body_decoded", chunked_put + "5;name=value\r\nhello\r\n6\r\n world\r\n0\r\nX-Sum: 1\r\nX-Two: 2\r\n\r\n", "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=11|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h|HTTP_TRANSFER_ENCODING=chunked", "hello world"),
      served("chunked_overrides_content_length_and_takes_bare_line_feeds", "PUT /x HTTP/1.1\r\nHost: h\r\nContent-Length: 2\r\nTransfer-Encoding: Chunked\r\n\r\nA\nabc\r\ndefgh\n0\n\n", "PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=10|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=2|HTTP_HOST=h|HTTP_TRANSFER_ENCODING=Chunked", "abc\r\ndefgh"),
      {"expect_continue_before_the_body", "PUT /x HTTP/1.1\r\nHost: h\r\nExpect: 100-Continue\r\nContent-Length: 2\r\n\r\nab", continue_line + ok_response, 0, false, env("PROTOCOL_VERSION=HTTP/1.1|CONTENT_LENGTH=2|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=2|HTTP_EXPECT=100-Continue|HTTP_HOST=h"), "ab"},
      // No body, or a client of HTTP/1.0: nothing to give leave for.
      served("expect_without_a_body", "GET /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n\r\n", "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/x|SERVER_PORT=3181|HTTP_EXPECT=100-continue|HTTP_HOST=h"),
      served("expect_from_http_1_0", "PUT /x HTTP/1.0\r\nHost: h\r\nExpect: 100-continue\r\nContent-Length: 1\r\n\r\na", "PROTOCOL_VERSION=HTTP/1.0|CONTENT_LENGTH=1|REQUEST_METHOD=PUT|PATH_INFO=/x|SERVER_PORT=3181|HTTP_CONTENT_LENGTH=1|HTTP_EXPECT=100-continue|HTTP_HOST=h", "a"),
      // A dispatcher that throws is answered with the matching 500 reply.
      {"dispatcher_exception", get, unknown_error, 500, false, env(get_lines), "", {ok_reply, outcome::throw_runtime_error}},
      {"dispatcher_out_of_memory", get, out_of_memory_response(), 500, false, env(get_lines), "", {ok_reply, outcome::throw_bad_alloc}},
      served("headers_ended_by_end_of_input", "GET /x HTTP/1.1\r\nHost: h\r\n", "PROTOCOL_VERSION=HTTP/1.1|REQUEST_METHOD=GET|PATH_INFO=/x|SERVER_PORT=3181|HTTP_HOST=h", "", true),
  };
}

// The response and return value `c` expects, and the dispatcher call it expects (or none).
inline void expect_exchange(const request_case& c, const exchange& result) {
  EXPECT_EQ(result.response, c.response);
  EXPECT_EQ(result.returned, c.returned);
  EXPECT_EQ(result.call.called, !c.environment.empty());
  if (result.call.called) {
    EXPECT_EQ(std::tie(result.call.connection, result.call.environment, result.call.body), std::make_tuple(connection_number, c.environment, c.body));
  }
}

}  // namespace ombrix::test
