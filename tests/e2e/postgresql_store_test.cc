// What only a PostgreSQL store has, end to end: a crash of the server and of the database during
// writes, and the database going away and coming back while the server runs (servers racing on
// one account are the host's own tests). Each test starts a cluster of its own
// (scripts/pg_cluster.sh), since it stops and restarts it; they run once, in the run with
// embedded stores, and need OMBRIX_TEST_POSTGRES only as the sign that PostgreSQL is there.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

const std::string section_path = "MAIN/CUSTOMERS/CUSTOMERS/";

class PostgresqlStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (postgresql_cluster().empty()) {
      GTEST_SKIP() << "OMBRIX_TEST_POSTGRES is not set: start a cluster with "
                      "scripts/pg_cluster.sh start DIR and export its URI to run these tests";
    }
    if (postgresql_stores()) GTEST_SKIP() << "runs once, with the embedded stores' run";
    if (windows_programs()) GTEST_SKIP() << "the Windows build reaches its host through COM";
    // The cluster's own user (nobody, when the tests run as root) must reach its folder.
    std::filesystem::permissions(cluster_dir_.path(), std::filesystem::perms(0755));
    run_result started = cluster("start");
    ASSERT_TRUE(started.exited && started.exit_code == 0) << started.err;
    running_ = true;
    const std::string maintenance = started.out.substr(0, started.out.find('\n'));
    const std::string query = maintenance.substr(maintenance.find('?'));
    uri_ = "postgresql:///team" + query;
    const run_result made = run_program({"psql", "-X", "-q", "-d", maintenance, "-c", "CREATE DATABASE team"});
    ASSERT_EQ(made.exit_code, 0) << made.err;
    for (const auto& command : std::vector<std::vector<std::string>>{{"create-account", "MAIN"}, {"create-file", "MAIN", "CUSTOMERS"}}) {
      ASSERT_EQ(run_admin(uri_, command).exit_code, 0);
    }
  }
  void TearDown() override {
    servers_.clear();
    if (running_) cluster("stop");
  }

  run_result cluster(const std::string& command) {
    return run_program({"bash", std::string(OMBRIX_SOURCE_DIR) + "/scripts/pg_cluster.sh", command, (cluster_dir_.path() / "pg").string()}, {}, 60s);
  }

  // A server on the store; its data root is never made.
  server_process& start_server() {
    servers_.push_back(std::make_unique<server_process>(server_command(), (data_.path() / "never").string(),
                                                        std::vector<std::string>{}, env_list{{"OMBRIX_STORE", uri_}}));
    return *servers_.back();
  }

  static std::string put_body(const std::string& value) { return "{\"data\":[\"" + value + "\"]}"; }
  static std::string value_of(const std::string& id, const std::string& value) { return item_response(id, "[\"" + value + "\"]"); }

  temp_dir cluster_dir_{"ombrix-pg"};
  temp_dir data_;
  bool running_ = false;
  std::string uri_;
  std::vector<std::unique_ptr<server_process>> servers_;
};

// The database paused: storage failure (not a hang), the server still runs and recovers by
// itself. Then the database restarts and the server is killed during writes: every write
// acknowledged before is there for the next server.
TEST_F(PostgresqlStore, OutagesAndCrashesLoseNoAcknowledgedWrite) {
  server_process* server = &start_server();
  rest_client client(server->port());
  ASSERT_TRUE(client.login());
  ASSERT_EQ(client.put(api + "file/" + section_path + "C1", put_body("one")).status, 200);
  ASSERT_EQ(cluster("pause").exit_code, 0);
  EXPECT_TRUE(is_host_error(client.get(api + "file/" + section_path + "C1"), 500, "206"));
  EXPECT_TRUE(is_host_error(client.get(api + "dir/" + section_path), 500, "206"));
  EXPECT_TRUE(server->running());
  ASSERT_EQ(cluster("resume").exit_code, 0);
  for (int attempt = 0; attempt < 50 && client.get(api + "file/" + section_path + "C1").status != 200; ++attempt) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(client.last().raw, value_of("C1", "one")) << "the same server, without a restart";
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "never")) << "no data root with PostgreSQL";

  std::mutex acked_mutex;
  std::vector<std::string> acked;
  std::atomic<bool> stop{false};
  const auto writer = [&, port = server->port()](int who) {
    for (int n = 0; !stop; ++n) {
      rest_client client(port);
      if (!client.login()) continue;  // the server or the database is down just now
      for (int i = 0; i < 20 && !stop; ++i, ++n) {
        const std::string id = std::string("D") + std::to_string(who) + "_" + std::to_string(n);
        if (client.put(api + "file/" + section_path + id, put_body(id)).status == 200) {
          std::lock_guard<std::mutex> lock(acked_mutex);
          acked.push_back(id);
        }
      }
    }
  };
  std::vector<std::thread> threads;
  for (int who = 0; who < 2; ++who) threads.emplace_back(writer, who);
  const auto wait_for_acks = [&](std::size_t count) {
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms)) {
      std::lock_guard<std::mutex> lock(acked_mutex);
      if (acked.size() >= count) return true;
    }
    return false;
  };
  EXPECT_TRUE(wait_for_acks(40));
  EXPECT_EQ(cluster("restart-immediate").exit_code, 0);  // during the writes
  EXPECT_TRUE(wait_for_acks(acked.size() + 40)) << "writes go on after the database restart";
  server->stop(SIGKILL);  // during the writes too
  stop = true;
  for (auto& t : threads) t.join();
  rest_client reader(start_server().port());
  ASSERT_TRUE(reader.login());
  ASSERT_GT(acked.size(), 80u);
  for (const std::string& id : acked) EXPECT_EQ(reader.get(api + "file/" + section_path + id).raw, value_of(id, id));
}

}  // namespace
}  // namespace ombrix::e2e
