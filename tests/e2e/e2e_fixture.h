// The end-to-end fixture: each test gets a data root seeded with ombrix-admin and a real server on
// it. (The PostgreSQL store gives what the embedded one gives by the host contract's tests.)
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/server_process.h"

namespace ombrix::e2e {

inline constexpr std::string_view vm = "\xEF\xA3\xBD", sm = "\xEF\xA3\xBC";  // value and subvalue marks in UTF-8

// Items imported into MAIN's file CUSTOMERS (id, content).
inline std::vector<std::pair<std::string, std::string>> seeded_customers() {
  const std::string v(vm), s(sm);
  return {{"C1", "Alice Smith\nMain St 1" + v + "Flat 2\nX" + s + "Y" + v + "Z\n"}, {"C2", "Bob Jones\n42\n"}, {"C3", "Cl\xC3\xA9o Dupr\xC3\xA9\n"}};
}

inline std::string postgresql_cluster() { return std::getenv("OMBRIX_TEST_POSTGRES") ? std::getenv("OMBRIX_TEST_POSTGRES") : ""; }

// Runs ombrix-admin on `store` (a data root or a connection text).
inline run_result run_admin(const std::string& store, std::vector<std::string> args) {
  std::vector<std::string> argv = admin_command();
  argv.insert(argv.end(), {store.starts_with("postgresql://") ? "--store" : "--data", store});
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv);
}

// Seeds MAIN (MD) with CUSTOMERS (second section HIST; C1..C3) and BP (HELLO), and SALES (SMD)
// with LEADS (L1). Empty on success, else what failed.
inline std::string seed_data_root(const std::string& data_root) {
  temp_dir sources("ombrix-seed");
  auto import_dir = [&](const std::string& name, const std::vector<std::pair<std::string, std::string>>& items) {
    std::filesystem::create_directory(sources.path() / name);
    for (const auto& [id, text] : items) write_file(sources.path() / name / id, text);
    return (sources.path() / name).string();
  };
  const std::vector<std::vector<std::string>> commands{
      {"create-account", "MAIN"}, {"create-file", "MAIN", "CUSTOMERS", "HIST"},
      {"import", "MAIN", "CUSTOMERS", import_dir("customers", seeded_customers())}, {"create-file", "MAIN", "BP"},
      {"import", "MAIN", "BP", import_dir("bp", {{"HELLO", "PRINT \"HELLO\"\nEND\n"}})},
      {"create-account", "SALES", "--md", "SMD"}, {"create-file", "SALES", "LEADS"},
      {"import", "SALES", "LEADS", import_dir("leads", {{"L1", "Lead one\n"}})}};
  for (const auto& command : commands) {
    const run_result result = run_admin(data_root, command);
    if (!result.exited || result.exit_code != 0) return "ombrix-admin " + command[0] + " " + command[1] + " failed: " + result.err;
  }
  return {};
}

// Names the seeded templates after the admin binary (time stamp, size): one seeding per build.
inline std::string admin_stamp() {
  std::error_code error;
  const std::filesystem::path admin = admin_command().back();
  return std::to_string(std::filesystem::last_write_time(admin, error).time_since_epoch().count()) + "_" + std::to_string(std::filesystem::file_size(admin, error));
}

// Copies a template of the seeded data (published by a rename: never seen half seeded) into `data_root`.
inline std::string prepare_data_root(const std::string& data_root) {
  namespace fs = std::filesystem;
  std::error_code error;
  const fs::path build(OMBRIX_BINARY_DIR), ready = build / ("e2e-seed-" + admin_stamp());
  if (!fs::is_directory(ready)) {
    std::string pattern = (build / "e2e-seed-tmp-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return "mkdtemp failed in " + build.string();
    if (std::string failure = seed_data_root(pattern); !failure.empty()) return fs::remove_all(pattern, error), failure;
    if (::rename(pattern.c_str(), ready.c_str()) != 0) fs::remove_all(pattern, error);  // another test published first
  }
  error.clear();
  for (const auto& entry : fs::directory_iterator(ready, error)) {
    fs::copy(entry.path(), fs::path(data_root) / entry.path().filename(), fs::copy_options::recursive, error);
    if (error) return "cannot copy " + entry.path().string() + ": " + error.message();
  }
  return error ? "no seeded template " + ready.string() : "";
}

// Seeds a fresh data root and starts the server; start_server restarts it with other options.
class server_test : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(prepare_data_root(data_.str()), "");
    start_server({});
  }
  void start_server(std::vector<std::string> args) {
    server_.reset();
    server_ = std::make_unique<server_process>(server_command(), data_.str(), std::move(args));
  }
  int port() const { return server_->port(); }
  std::string send_raw(std::string_view request) { return http_exchange(port(), request).bytes; }
  rest_client logged_in(std::string_view body = {}) {
    rest_client client(port());
    EXPECT_TRUE(client.login(body)) << client.last().raw;
    return client;
  }

  temp_dir data_;
  std::unique_ptr<server_process> server_;
};

// A server_test with a client logged in to MAIN.
class client_test : public server_test {
 protected:
  void SetUp() override {
    server_test::SetUp();
    if (!HasFatalFailure() && !IsSkipped()) client_ = std::make_unique<rest_client>(logged_in());
  }
  rest_client& client() { return *client_; }
  std::unique_ptr<rest_client> client_;
};

inline const std::string missing_token = "Authorization token must be included in the Authorization header.";
inline const std::string unknown_session = "Session for authorization token not found (new login required).";
inline const std::string move_refused = "'move' is not supported for 'rename' (new and old directory must be the same).";
inline const std::string main_listing = R"({"items":[{"id":"BP","attr":16},{"id":"CUSTOMERS","attr":16},{"id":"MD","attr":16}]})";
inline const std::string c1_data = R"(["Alice Smith",["Main St 1","Flat 2"],[["X","Y"],"Z"]])";
inline const std::string c2_data = R"(["Bob Jones","42"])";
inline const std::string customers = "MAIN/CUSTOMERS/CUSTOMERS";

inline std::string item_response(std::string_view id, std::string_view data) { return json_response(item_json(id, data)); }
inline std::string data_body(std::string_view data) { return "{\"data\":" + std::string(data) + "}"; }

// A failure reported by the host: the status, the host's number as code, its own description.
inline ::testing::AssertionResult is_host_error(const http_response& response, int status, std::string_view code) {
  const std::string head = header_block(status) + "Content-Length: " + std::to_string(response.body.size()) +
                           "\r\nContent-Type:application/json\r\n\r\n";
  if (response.headers == head && response.body.starts_with("{\"status\":" + std::to_string(status) + ",\"message\":\"") &&
      response.body.ends_with("\",\"code\":\"" + std::string(code) + "\"}")) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "expected host error " << status << "/" << code << ", received:\n" << response.raw;
}

// A wire_case's expected response that is a host error (its description is the host's own).
inline std::string host(int status, std::string_view code) { return "host error " + std::to_string(status) + " " + std::string(code); }

// A request and its whole expected response (or host(status, code)); targets go after `api` unless they start with '/'.
struct wire_case {
  std::string method, target, body, expected;
};
inline void expect_responses(rest_client& client, const std::vector<wire_case>& cases) {
  for (const wire_case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target + " " + c.body);
    const http_response response = client.call(c.method, c.target.starts_with('/') ? c.target : api + c.target, c.body);
    if (c.expected.starts_with("host error ")) {
      EXPECT_TRUE(is_host_error(response, std::stoi(c.expected.substr(11)), c.expected.substr(15)));
    } else {
      EXPECT_EQ(response.raw, c.expected);
    }
  }
}

}  // namespace ombrix::e2e
