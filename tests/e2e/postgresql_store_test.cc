// What only a shared PostgreSQL store has, end to end: two servers racing on one account, a
// crash of the server and of the database during writes, and the database going away and
// coming back while the server runs. Each test starts a cluster of its own
// (scripts/pg_cluster.sh), since it stops and restarts it; they run once, in the run with
// embedded stores, and need OMBRIX_TEST_POSTGRES only as the sign that PostgreSQL is there.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <set>
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

// The ids of a dir listing, from its JSON.
std::vector<std::string> listed_ids(const std::string& body) {
  std::vector<std::string> ids;
  for (std::size_t at = body.find("\"id\":\""); at != std::string::npos; at = body.find("\"id\":\"", at)) {
    ids.push_back(body.substr(at + 6, body.find('"', at + 6) - at - 6)), at += 6;
  }
  return ids;
}

TEST_F(PostgresqlStore, TwoServersRacingOnTheSameIdsLoseAndDoubleNothing) {
  server_process &a = start_server(), &b = start_server();
  rest_client seed(a.port());
  ASSERT_TRUE(seed.login());
  ASSERT_EQ(seed.put(api + "file/" + section_path + "X0", put_body("moving")).status, 200);
  ASSERT_EQ(seed.put(api + "file/" + section_path + "SRC", put_body("source")).status, 200);

  constexpr int rounds = 30;
  std::atomic<int> copies{0}, unexpected{0};
  std::mutex acked_mutex;
  std::map<std::string, std::string> acked;  // id -> the value of its last acknowledged PUT
  const auto racer = [&](int who) {
    rest_client client(who % 2 == 0 ? a.port() : b.port());
    if (!client.login()) return void(++unexpected);
    for (int round = 0; round < rounds; ++round) {
      const std::string from = std::string("X") + std::to_string((round + who) % 4), to = std::string("X") + std::to_string((round + who + 1) % 4);
      const int renamed = client.get(api + "rename/" + section_path + from + "?newname=" + section_path + to).status;
      if (renamed != 200 && renamed != 404 && renamed != 500) ++unexpected;
      copies += client.post(api + "cmd/COPY/" + section_path + "SRC", std::string("{\"to\":\"K") + std::to_string(round) + "\"}").status == 200;
      // Everyone writes the same ids: the last acknowledged value of each must stand.
      const std::string id = std::string("P") + std::to_string(round % 5), value = std::to_string(who) + "-" + std::to_string(round);
      std::lock_guard<std::mutex> lock(acked_mutex);  // PUT and its record in one order
      if (client.put(api + "file/" + section_path + id, put_body(value)).status == 200) acked[id] = value;
      else ++unexpected;
    }
  };
  std::vector<std::thread> threads;
  for (int who = 0; who < 4; ++who) threads.emplace_back(racer, who);
  for (auto& t : threads) t.join();
  EXPECT_EQ(unexpected.load(), 0);
  EXPECT_EQ(copies.load(), rounds) << "exactly one COPY without overwrite wins each round";

  rest_client on_a(a.port()), on_b(b.port());
  ASSERT_TRUE(on_a.login());
  ASSERT_TRUE(on_b.login());
  const http_response listing_a = on_a.get(api + "dir/" + section_path);
  EXPECT_EQ(listing_a.raw, on_b.get(api + "dir/" + section_path).raw) << "both servers list what the rows hold";
  int moving = 0, copied_items = 0;
  for (const std::string& id : listed_ids(listing_a.body)) {
    moving += id.starts_with("X");
    copied_items += id.starts_with("K");
  }
  EXPECT_EQ(moving, 1) << "the renamed item exists under exactly one id\n" << listing_a.body;
  EXPECT_EQ(copied_items, rounds);
  for (const auto& [id, value] : acked) EXPECT_EQ(on_b.get(api + "file/" + section_path + id).raw, value_of(id, value));
  EXPECT_FALSE(std::filesystem::exists(data_.path() / "never")) << "no data root with PostgreSQL";
}

TEST_F(PostgresqlStore, AcknowledgedWritesSurviveKillAndAnImmediateDatabaseRestart) {
  server_process* server = &start_server();
  std::mutex acked_mutex;
  std::vector<std::string> acked;
  std::atomic<bool> stop{false};
  std::atomic<int> port{server->port()};
  const auto writer = [&](int who) {
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
  run_result restarted = cluster("restart-immediate");  // during the writes
  EXPECT_EQ(restarted.exit_code, 0) << restarted.err;
  EXPECT_TRUE(wait_for_acks(acked.size() + 40)) << "writes go on after the database restart";
  server->stop(SIGKILL);  // during the writes too
  stop = true;
  for (auto& t : threads) t.join();

  server = &start_server();
  rest_client reader(server->port());
  ASSERT_TRUE(reader.login());
  ASSERT_GT(acked.size(), 80u);
  for (const std::string& id : acked) EXPECT_EQ(reader.get(api + "file/" + section_path + id).raw, value_of(id, id));
}

TEST_F(PostgresqlStore, DatabaseDownIsStorageFailureWithinSecondsThenRecoversByItself) {
  server_process& server = start_server();
  rest_client client(server.port());
  ASSERT_TRUE(client.login());
  ASSERT_EQ(client.put(api + "file/" + section_path + "C1", put_body("one")).status, 200);
  ASSERT_EQ(cluster("pause").exit_code, 0);
  for (const std::string action : {"file/", "dir/"}) {
    SCOPED_TRACE(action);
    const auto started = std::chrono::steady_clock::now();
    const http_response down = client.get(api + action + section_path + (action == "file/" ? "C1" : ""));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_TRUE(is_host_error(down, 500, "206"));
  }
  EXPECT_TRUE(server.running());
  ASSERT_EQ(cluster("resume").exit_code, 0);
  for (int attempt = 0; attempt < 50 && client.get(api + "file/" + section_path + "C1").status != 200; ++attempt) {
    std::this_thread::sleep_for(100ms);
  }
  EXPECT_EQ(client.last().raw, value_of("C1", "one")) << "the same server, without a restart";
}

}  // namespace
}  // namespace ombrix::e2e
