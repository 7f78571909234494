// The end-to-end fixture: a store seeded with ombrix-admin and a real server on it. Each test
// gets its own store and server, killed and reaped in TearDown.
//
// The store is the one parameter of every end-to-end test: a data root of the embedded host,
// or, with OMBRIX_E2E_STORE=postgresql (CTest runs every test a second time so, named
// "postgresql.*"), a database of its own in the cluster OMBRIX_TEST_POSTGRES names, copied
// from a seeded template.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/e2e/server_process.h"

namespace ombrix::e2e {

// Marks as they appear in UTF-8 item texts.
inline constexpr std::string_view vm = "\xEF\xA3\xBD";  // U+F8FD, between values
inline constexpr std::string_view sm = "\xEF\xA3\xBC";  // U+F8FC, between subvalues

// Items imported into MAIN's file CUSTOMERS (id, text file content with LF line ends).
inline std::vector<std::pair<std::string, std::string>> seeded_customers() {
  return {
      {"C1", "Alice Smith\nMain St 1" + std::string(vm) + "Flat 2\nX" + std::string(sm) + "Y" +
                 std::string(vm) + "Z\n"},
      {"C2", "Bob Jones\n42\n"},
      {"C3", "Cl\xC3\xA9o Dupr\xC3\xA9\n"},
  };
}

// True when the tests run against PostgreSQL stores.
inline bool postgresql_stores() {
  const char* store = std::getenv("OMBRIX_E2E_STORE");
  return store != nullptr && std::string_view(store) == "postgresql";
}

// The cluster's maintenance connection text (scripts/pg_cluster.sh), or empty.
inline std::string postgresql_cluster() {
  const char* cluster = std::getenv("OMBRIX_TEST_POSTGRES");
  return cluster ? cluster : "";
}

// Runs ombrix-admin on `store` (a data root or a connection text); the result of the run.
inline run_result run_admin(const std::string& store, std::vector<std::string> args) {
  std::vector<std::string> argv = admin_command();
  const bool database = store.starts_with("postgresql://") || store.find('=') != std::string::npos;
  argv.insert(argv.end(), {database ? "--store" : "--data", store});
  argv.insert(argv.end(), args.begin(), args.end());
  return run_program(argv);
}

// Runs `sql` with psql on the cluster's maintenance database; empty on success, else what failed.
inline std::string cluster_sql(const std::string& sql) {
  run_result result = run_program({"psql", "-X", "-q", "-v", "ON_ERROR_STOP=1", "-d",
                                   postgresql_cluster(), "-c", sql});
  if (result.exited && result.exit_code == 0) return {};
  return "psql failed on '" + sql + "': " + result.err;
}

// `database` in the cluster, as the server and the admin tool are given it: the form
// postgresql:///DB?host=SOCKET_DIR&port=PORT when the cluster's text has that form.
inline std::string database_uri(const std::string& database) {
  std::string cluster = postgresql_cluster();
  const std::string prefix = "postgresql:///";
  if (cluster.starts_with(prefix)) {
    const std::size_t query = cluster.find('?');
    return prefix + database + (query == std::string::npos ? "" : cluster.substr(query));
  }
  return "dbname=" + database + " " + cluster;
}

// Seeds: account MAIN (master dictionary MD) with files CUSTOMERS (second section HIST; items
// C1..C3) and BP (item HELLO); account SALES (master dictionary SMD) with file LEADS (item L1).
// Returns an empty text on success, else what failed.
inline std::string seed_data_root(const std::string& data_root) {
  temp_dir sources("ombrix-seed");
  auto import_dir = [&](const std::string& name,
                        const std::vector<std::pair<std::string, std::string>>& items) {
    std::filesystem::create_directory(sources.path() / name);
    for (const auto& [id, text] : items) write_file(sources.path() / name / id, text);
    return (sources.path() / name).string();
  };
  std::vector<std::vector<std::string>> commands{
      {"create-account", "MAIN"},
      {"create-file", "MAIN", "CUSTOMERS", "HIST"},
      {"import", "MAIN", "CUSTOMERS", import_dir("customers", seeded_customers())},
      {"create-file", "MAIN", "BP"},
      {"import", "MAIN", "BP", import_dir("bp", {{"HELLO", "PRINT \"HELLO\"\nEND\n"}})},
      {"create-account", "SALES", "--md", "SMD"},
      {"create-file", "SALES", "LEADS"},
      {"import", "SALES", "LEADS", import_dir("leads", {{"L1", "Lead one\n"}})},
  };
  for (const auto& command : commands) {
    run_result result = run_admin(data_root, command);
    if (!result.exited || result.exit_code != 0) {
      std::string line;
      for (const auto& word : command) line += word + " ";
      return "ombrix-admin " + line + std::string("failed (") + std::to_string(result.exit_code) + "): " + result.err;
    }
  }
  return {};
}

// Fills `data_root` with a copy of the seeded data. The seeding itself (eight admin runs, each
// committing to disk) happens once per admin binary: the result is kept in the build folder under
// a name derived from the binary's time stamp and size, and published with an atomic rename so
// that test processes running in parallel never see a half-seeded template.
// Returns an empty text on success, else what failed.
inline std::string prepare_data_root(const std::string& data_root) {
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path admin = admin_command().back();
  auto stamp = fs::last_write_time(admin, error).time_since_epoch().count();
  if (error) return "cannot find " + admin.string();
  fs::path build(OMBRIX_BINARY_DIR);
  fs::path ready = build / (std::string("e2e-seed-") + std::to_string(stamp) + "-" +
                            std::to_string(fs::file_size(admin, error)));
  if (!fs::is_directory(ready)) {
    std::string pattern = (build / "e2e-seed-tmp-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return "mkdtemp failed in " + build.string();
    std::string failure = seed_data_root(pattern);
    if (!failure.empty()) {
      fs::remove_all(pattern, error);
      return failure;
    }
    if (::rename(pattern.c_str(), ready.c_str()) != 0) fs::remove_all(pattern, error);
    if (!fs::is_directory(ready)) return "cannot publish the seeded template " + ready.string();
    // Templates of earlier admin builds are of no further use.
    for (const auto& entry : fs::directory_iterator(build, error)) {
      std::string name = entry.path().filename().string();
      if (name.starts_with("e2e-seed-") && !name.starts_with("e2e-seed-tmp-") && entry.path() != ready) {
        fs::remove_all(entry.path(), error);
      }
    }
  }
  for (const auto& entry : fs::directory_iterator(ready)) {
    fs::copy(entry.path(), fs::path(data_root) / entry.path().filename(), fs::copy_options::recursive, error);
    if (error) return "cannot copy " + entry.path().string() + ": " + error.message();
  }
  return {};
}

// A seeded PostgreSQL store for one test: a database copied from a template that is seeded once
// per admin binary (published by renaming, so parallel test processes never see it half
// seeded), dropped again when the test ends.
class seeded_database {
 public:
  seeded_database() {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path admin = admin_command().back();
    const auto stamp = fs::last_write_time(admin, error).time_since_epoch().count();
    const std::string seed = std::string("ombrix_e2e_seed_") + std::to_string(static_cast<unsigned long long>(stamp) % 1000000000000ull) + "_" +
                             std::to_string(fs::file_size(admin, error));
    static int counter = 0;
    name_ = std::string("ombrix_e2e_") + std::to_string(::getpid()) + std::string("_") + std::to_string(counter++);
    const std::string exists = "SELECT 1/count(*) FROM pg_database WHERE datname = '" + seed + "'";
    if (!cluster_sql(exists).empty()) {
      const std::string making = std::string("ombrix_e2e_tmp_") + std::to_string(::getpid());
      cluster_sql("DROP DATABASE IF EXISTS " + making);
      failure_ = cluster_sql("CREATE DATABASE " + making);
      if (failure_.empty()) failure_ = seed_data_root(database_uri(making));
      if (failure_.empty() && !cluster_sql("ALTER DATABASE " + making + " RENAME TO " + seed).empty()) {
        cluster_sql("DROP DATABASE IF EXISTS " + making);  // another process published first
      }
      if (!failure_.empty()) return;
    }
    // CREATE DATABASE refuses while another session is connected to the template (a seeding
    // in another process that is about to publish): try again a little later.
    for (int attempt = 0; attempt < 20; ++attempt) {
      failure_ = cluster_sql("CREATE DATABASE " + name_ + " TEMPLATE " + seed);
      if (failure_.empty()) break;
      std::this_thread::sleep_for(100ms);
    }
    uri_ = database_uri(name_);
  }
  ~seeded_database() { cluster_sql("DROP DATABASE IF EXISTS " + name_ + " WITH (FORCE)"); }
  seeded_database(const seeded_database&) = delete;
  seeded_database& operator=(const seeded_database&) = delete;

  const std::string& failure() const { return failure_; }
  const std::string& uri() const { return uri_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  std::string uri_;
  std::string failure_;
};

// Base fixture: seeds a fresh store and starts the server with server_args().
class server_test : public ::testing::Test {
 protected:
  virtual std::vector<std::string> server_args() const { return {}; }

  void SetUp() override {
    if (postgresql_stores()) {
      if (postgresql_cluster().empty()) {
        GTEST_SKIP() << "OMBRIX_TEST_POSTGRES is not set: start a cluster with "
                        "scripts/pg_cluster.sh start DIR and export its URI to run these tests";
      }
      database_ = std::make_unique<seeded_database>();
      ASSERT_EQ(database_->failure(), "");
    } else {
      std::string failure = prepare_data_root(data_.str());
      ASSERT_EQ(failure, "");
    }
    start_server(server_args());
  }

  void TearDown() override {
    server_.reset();
    database_.reset();
  }

  // The environment of a server on this test's store.
  env_list store_env() const {
    if (!database_) return {};
    return {{"OMBRIX_STORE", database_->uri()}};
  }

  void start_server(std::vector<std::string> args) {
    server_.reset();
    server_ = std::make_unique<server_process>(server_command(), data_.str(), std::move(args),
                                               store_env());
  }

  int port() const { return server_->port(); }

  // One raw exchange with the server; the whole response as received.
  std::string send_raw(std::string_view request, exchange_options options = {}) {
    return http_exchange(port(), request, options).bytes;
  }

  // A client logged in with `body` (the default account MAIN for an empty body).
  rest_client logged_in(std::string_view body = {}) {
    rest_client client(port());
    EXPECT_TRUE(client.login(body)) << client.last().raw;
    return client;
  }

  temp_dir data_;
  std::unique_ptr<seeded_database> database_;  // PostgreSQL stores only
  std::unique_ptr<server_process> server_;
};

// A server_test with one client logged in to MAIN before the test body runs.
class client_test : public server_test {
 protected:
  void SetUp() override {
    server_test::SetUp();
    if (!HasFatalFailure() && !IsSkipped()) client_ = std::make_unique<rest_client>(logged_in());
  }
  rest_client& client() { return *client_; }
  std::unique_ptr<rest_client> client_;
};

// ---- Expected texts of the seeded data and the REST service ---------------------------------

inline const std::string bad_root = "File MD, VOC or account name is not valid.";
inline const std::string missing_token =
    "Authorization token must be included in the Authorization header.";
inline const std::string unknown_session =
    "Session for authorization token not found (new login required).";
inline const std::string move_refused =
    "'move' is not supported for 'rename' (new and old directory must be the same).";
inline const std::string main_listing =
    R"({"items":[{"id":"BP","attr":16},{"id":"CUSTOMERS","attr":16},{"id":"MD","attr":16}]})";
inline const std::string c1_data = R"(["Alice Smith",["Main St 1","Flat 2"],[["X","Y"],"Z"]])";
inline const std::string c2_data = R"(["Bob Jones","42"])";
// The seeded data section, as a path after an action name (no trailing slash).
inline const std::string customers = "MAIN/CUSTOMERS/CUSTOMERS";

inline std::string item_response(std::string_view id, std::string_view data) {
  return json_response(item_json(id, data));
}
inline std::string data_body(std::string_view data) { return "{\"data\":" + std::string(data) + "}"; }
inline std::string login_json(std::string_view sid) {
  return "{\"token_type\":\"Bearer\",\"access_token\":\"" + token_for_sid(sid) + "\"}";
}

// A failure reported by the host: the status, the host's number as code, its own description.
inline ::testing::AssertionResult is_host_error(const http_response& response, int status,
                                                std::string_view code) {
  std::string head = header_block(status) + std::string("Content-Length: ") + std::to_string(response.body.size()) +
                     "\r\nContent-Type:application/json\r\n\r\n";
  std::string start = std::string("{\"status\":") + std::to_string(status) + ",\"message\":\"";
  std::string end = "\",\"code\":\"" + std::string(code) + "\"}";
  if (response.headers == head && response.body.starts_with(start) && response.body.ends_with(end)) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "expected host error " << status << "/" << code
                                       << ", received:\n" << response.raw;
}

// One row of a table-driven exchange: the request and the whole response it must get.
// A target starting with '/' is sent as it stands, any other after the service prefix.
struct wire_case {
  std::string method;
  std::string target;
  std::string body;
  std::string expected;
};

// Sends every case through `client` (with its token, if any) and compares the responses.
inline void expect_responses(rest_client& client, const std::vector<wire_case>& cases) {
  for (const wire_case& c : cases) {
    SCOPED_TRACE(c.method + " " + c.target + " " + c.body);
    std::string target = c.target.starts_with('/') ? c.target : api + c.target;
    EXPECT_EQ(client.call(c.method, target, c.body).raw, c.expected);
  }
}

}  // namespace ombrix::e2e
