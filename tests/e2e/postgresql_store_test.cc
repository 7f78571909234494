// What only a PostgreSQL store has, end to end: the database paused, restarted and the server
// killed during writes. Each test stops and restarts a cluster of its own (scripts/pg_cluster.sh);
// it runs once, in the embedded stores' run, with OMBRIX_TEST_POSTGRES as the sign of PostgreSQL.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

class PostgresqlStore : public ::testing::Test {
 protected:
  void SetUp() override {
    if (postgresql_cluster().empty() || windows_programs()) GTEST_SKIP() << "needs PostgreSQL, on Linux";
    std::filesystem::permissions(cluster_dir_.path(), std::filesystem::perms(0755));  // for the cluster's own user
    const run_result started = cluster("start");
    ASSERT_TRUE(started.exited && started.exit_code == 0) << started.err;
    running_ = true;
    const std::string maintenance = started.out.substr(0, started.out.find('\n'));
    uri_ = "postgresql:///team" + maintenance.substr(maintenance.find('?'));
    ASSERT_EQ(run_program({"psql", "-X", "-q", "-d", maintenance, "-c", "CREATE DATABASE team"}).exit_code, 0);
    ASSERT_EQ(run_admin(uri_, {"create-account", "MAIN"}).exit_code, 0);
    ASSERT_EQ(run_admin(uri_, {"create-file", "MAIN", "CUSTOMERS"}).exit_code, 0);
  }
  void TearDown() override {
    if (servers_.clear(); running_) cluster("stop");
  }
  run_result cluster(const std::string& command) {
    return run_program({"bash", std::string(OMBRIX_SOURCE_DIR) + "/scripts/pg_cluster.sh", command, (cluster_dir_.path() / "pg").string()}, {}, 60s);
  }
  // A server on the store; its data root is never made.
  server_process& start_server() {
    return *servers_.emplace_back(std::make_unique<server_process>(server_command(), (data_.path() / "never").string(),
                                                                   std::vector<std::string>{}, env_list{{"OMBRIX_STORE", uri_}}));
  }

  temp_dir cluster_dir_{"ombrix-pg"}, data_;
  bool running_ = false;
  std::string uri_;
  std::vector<std::unique_ptr<server_process>> servers_;
};

// The database paused: storage failure (not a hang), and the same server recovers by itself. Then
// the database restarts and the server is killed during writes: every acknowledged write is there.
TEST_F(PostgresqlStore, OutagesAndCrashesLoseNoAcknowledgedWrite) {
  server_process* server = &start_server();
  const std::string item = api + "file/" + customers + "/";
  rest_client client(server->port());
  ASSERT_TRUE(client.login());
  ASSERT_EQ(client.put(item + "C1", R"({"data":["one"]})").status, 200);
  ASSERT_EQ(cluster("pause").exit_code, 0);
  EXPECT_TRUE(is_host_error(client.get(item + "C1"), 500, "206"));
  EXPECT_TRUE(is_host_error(client.get(api + "dir/" + customers), 500, "206"));
  ASSERT_EQ(cluster("resume").exit_code, 0);
  for (int i = 0; i < 50 && client.get(item + "C1").status != 200; ++i) std::this_thread::sleep_for(100ms);
  EXPECT_EQ(client.last().raw, item_response("C1", R"(["one"])"));
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "never")) << "no data root with PostgreSQL";

  std::mutex mutex;  // guards acked
  std::vector<std::string> acked;
  std::atomic<bool> stop{false};
  const auto writer = [&, port = server->port()](int who) {
    for (int n = 0; !stop;) {
      rest_client client(port);
      if (!client.login()) continue;  // the server or the database is down just now
      for (int i = 0; i < 20 && !stop; ++i, ++n) {
        const std::string id = std::string("D") + std::to_string(who) + "_" + std::to_string(n);
        if (client.put(item + id, "{\"data\":[\"" + id + "\"]}").status != 200) continue;
        const std::lock_guard lock(mutex);
        acked.push_back(id);
      }
    }
  };
  const auto acks_reach = [&](std::size_t count) {
    for (int i = 0; i < 500; ++i, std::this_thread::sleep_for(10ms)) if (std::lock_guard lock(mutex); acked.size() >= count) return true;
    return false;
  };
  std::thread first(writer, 0), second(writer, 1);
  EXPECT_TRUE(acks_reach(40));
  EXPECT_EQ(cluster("restart-immediate").exit_code, 0);
  EXPECT_TRUE(acks_reach(acked.size() + 40)) << "writes go on after the database restart";
  server->stop(SIGKILL);
  stop = true;
  first.join(), second.join();
  rest_client reader(start_server().port());
  ASSERT_TRUE(reader.login() && acked.size() > 80) << acked.size();
  for (const std::string& id : acked) EXPECT_EQ(reader.get(item + id).raw, item_response(id, "[\"" + id + "\"]"));
}

}  // namespace
}  // namespace ombrix::e2e
