// End-to-end: a seeded server, ombrix-mount on a temporary mount point, real tools on it.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

namespace fs = std::filesystem;

std::string mount_binary() { return std::string(OMBRIX_BINARY_DIR) + "/ombrix-mount"; }

bool is_mounted(const std::string& point) {
  return read_file("/proc/mounts").find(" " + point + " ") != std::string::npos;
}

// True while some process has `point` among its command-line arguments.
bool process_uses(const std::string& point) {
  for (const auto& entry : fs::directory_iterator("/proc")) {
    const std::string cmdline = read_file(entry.path() / "cmdline");
    if (cmdline.find(std::string("ombrix-mount")) != std::string::npos &&
        cmdline.find(point) != std::string::npos) {
      return true;
    }
  }
  return false;
}

run_result shell(const std::string& command, std::chrono::milliseconds timeout = 30s) {
  return run_program({"/bin/sh", "-c", command}, {}, timeout);
}

class mount_test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/dev/fuse", R_OK | W_OK) != 0 ||
        shell("command -v fusermount3 >/dev/null").exit_code != 0) {
      GTEST_SKIP() << "no /dev/fuse or fusermount3 on this machine";
    }
    ASSERT_EQ(prepare_data_root(data_.str()), "");
    server_ = std::make_unique<server_process>(server_command(), data_.str());
    point_ = (place_.path() / "m").string();
    fs::create_directory(point_);
    const run_result mounted = run_program(
        {mount_binary(), "--port", std::to_string(server_->port()), "--root", "MD", point_});
    ASSERT_TRUE(mounted.exited && mounted.exit_code == 0) << mounted.err;
    ASSERT_TRUE(is_mounted(point_));
  }

  void TearDown() override {
    if (point_.empty()) return;
    if (is_mounted(point_)) {
      shell("fusermount3 -u " + point_ + " || fusermount3 -uz " + point_);
    }
    for (int i = 0; i < 100 && process_uses(point_); ++i) std::this_thread::sleep_for(50ms);
    EXPECT_FALSE(is_mounted(point_));
    EXPECT_FALSE(process_uses(point_));
  }

  // A REST GET of `path` (after the service prefix) with a fresh login, the reply body.
  std::string rest_get(const std::string& path) {
    const std::string base = "http://127.0.0.1:" + std::to_string(server_->port()) + api;
    const run_result r = shell("T=$(curl -s -X POST " + base +
                               "login | sed 's/.*\"access_token\":\"\\([^\"]*\\)\".*/\\1/'); "
                               "curl -s -H \"Authorization: Bearer $T\" '" + base + path + "'");
    return r.out;
  }

  // A REST PUT of `json` to `path` with a fresh login; the HTTP status.
  std::string rest_put(const std::string& path, const std::string& json) {
    const std::string base = "http://127.0.0.1:" + std::to_string(server_->port()) + api;
    return shell("T=$(curl -s -X POST " + base +
                 "login | sed 's/.*\"access_token\":\"\\([^\"]*\\)\".*/\\1/'); "
                 "curl -s -o /dev/null -w '%{http_code}' -X PUT -H \"Authorization: Bearer $T\" "
                 "--data-binary '" + json + "' '" + base + path + "'")
        .out;
  }

  std::string in(const std::string& relative) const { return point_ + "/" + relative; }

  temp_dir data_{"ombrix-mount-data"};
  temp_dir place_{"ombrix-mount-point"};
  std::unique_ptr<server_process> server_;
  std::string point_;
};

TEST_F(mount_test, layout_listing_and_contents_match_the_account) {
  EXPECT_EQ(shell("ls " + point_).out, "BP\nCUSTOMERS\nMD\n");
  EXPECT_EQ(shell("ls " + in("CUSTOMERS")).out, "CUSTOMERS\nHIST\n");
  const run_result listing = shell("ls -l " + in("CUSTOMERS/CUSTOMERS"));
  // ls -l shows the content length: C2 is "Bob Jones\n42\n", 13 bytes.
  EXPECT_NE(listing.out.find(" 13 "), std::string::npos) << listing.out;
  EXPECT_EQ(shell("ls -l " + in("CUSTOMERS/CUSTOMERS") + " | grep -c ' 13 .* C2$'").out, "1\n");
  for (const auto& [id, text] : seeded_customers()) {
    SCOPED_TRACE(id);
    EXPECT_EQ(read_file(in("CUSTOMERS/CUSTOMERS/" + id)), text);
    EXPECT_EQ(fs::file_size(in("CUSTOMERS/CUSTOMERS/" + id)), text.size());
  }
  temp_dir exported("ombrix-mount-export");
  ASSERT_EQ(run_admin(data_.str(), {"export", "MAIN", "CUSTOMERS", exported.str()}).exit_code, 0);
  const run_result diff = shell("diff -r " + exported.str() + " " + in("CUSTOMERS/CUSTOMERS"));
  EXPECT_EQ(diff.exit_code, 0) << diff.out;
}

TEST_F(mount_test, copies_edits_and_appends_reach_the_account) {
  temp_dir source("ombrix-mount-src");
  write_file(source.path() / "N1", "one\ntwo\n");
  write_file(source.path() / "N2", std::string("a") + std::string(vm) + "b\n");
  ASSERT_EQ(shell("cp -r " + source.str() + "/. " + in("CUSTOMERS/HIST")).exit_code, 0);
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/HIST/N1"), R"({"id":"N1","type":"array","data":["one","two"]})" "\r\n");
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/HIST/N2"), R"({"id":"N2","type":"array","data":[["a","b"]]})" "\r\n");

  ASSERT_EQ(shell("sed -i 's/two/TWO/' " + in("CUSTOMERS/HIST/N1")).exit_code, 0);
  ASSERT_EQ(shell("echo three >> " + in("CUSTOMERS/HIST/N1")).exit_code, 0);
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/HIST/N1"),
            R"({"id":"N1","type":"array","data":["one","TWO","three"]})" "\r\n");
  // sed's temporary file went through a rename: nothing else is left in the section.
  EXPECT_EQ(shell("ls -a " + in("CUSTOMERS/HIST")).out, ".\n..\nN1\nN2\n");

  temp_dir synced("ombrix-mount-rsync");
  write_file(synced.path() / "R1", "r\n");
  ASSERT_EQ(shell("rsync -r " + synced.str() + "/ " + in("BP/BP/")).exit_code, 0);
  EXPECT_EQ(shell("ls -a " + in("BP/BP")).out, ".\n..\nHELLO\nR1\n");
  EXPECT_EQ(read_file(in("BP/BP/R1")), "r\n");
}

TEST_F(mount_test, vim_save_leaves_only_the_new_item) {
  const std::string file = in("CUSTOMERS/CUSTOMERS/C2");
  const run_result vim = shell("cd /tmp && vim -es -u NONE -c 'set backup swapfile' "
                               "-c '%s/Bob/Rob/' -c wq " + file);
  ASSERT_EQ(vim.exit_code, 0) << vim.out << vim.err;
  EXPECT_EQ(read_file(file), "Rob Jones\n42\n");
  EXPECT_EQ(shell("ls -a " + in("CUSTOMERS/CUSTOMERS")).out, ".\n..\nC1\nC2\nC3\n");
  EXPECT_EQ(rest_get("dir/MD/CUSTOMERS/CUSTOMERS").find("~"), std::string::npos);
}

TEST_F(mount_test, rename_remove_and_refusals) {
  const std::string dir = in("CUSTOMERS/CUSTOMERS/");
  EXPECT_EQ(shell("mv " + dir + "C1 " + dir + "C9").exit_code, 0);
  EXPECT_EQ(shell("mv " + dir + "C9 " + dir + "C2").exit_code, 0);  // over an existing item
  EXPECT_EQ(read_file(dir + "C2"), seeded_customers()[0].second);
  EXPECT_EQ(shell("mv " + dir + "C2 " + in("CUSTOMERS/HIST/")).exit_code, 0);  // across
  EXPECT_EQ(shell("ls " + dir).out, "C3\n");
  EXPECT_EQ(read_file(in("CUSTOMERS/HIST/C2")), seeded_customers()[0].second);
  EXPECT_EQ(shell("rm " + dir + "C3").exit_code, 0);
  EXPECT_NE(rest_get("file/MD/CUSTOMERS/CUSTOMERS/C3").find("\"code\":\"202\""), std::string::npos);
  const run_result made = shell("mkdir " + dir + "X");
  EXPECT_NE(made.exit_code, 0);
  EXPECT_NE(made.err.find("Operation not permitted"), std::string::npos);
}

TEST_F(mount_test, change_through_rest_shows_after_the_cache_time) {
  const std::string file = in("CUSTOMERS/CUSTOMERS/C2");
  EXPECT_EQ(read_file(file), "Bob Jones\n42\n");
  ASSERT_EQ(rest_put("file/MD/CUSTOMERS/CUSTOMERS/C2", R"({"data":["Changed",["x","y"]]})"), "200");
  std::this_thread::sleep_for(1100ms);
  const std::string changed = "Changed\nx" + std::string(vm) + "y\n";
  EXPECT_EQ(read_file(file), changed);
  EXPECT_EQ(fs::file_size(file), changed.size());
}

TEST_F(mount_test, concurrent_readers_see_whole_items) {
  std::vector<std::future<bool>> readers;
  for (int i = 0; i < 4; ++i) {
    readers.push_back(std::async(std::launch::async, [&] {
      for (int round = 0; round < 10; ++round) {
        for (const auto& [id, text] : seeded_customers()) {
          if (read_file(in("CUSTOMERS/CUSTOMERS/" + id)) != text) return false;
        }
      }
      return true;
    }));
  }
  for (auto& reader : readers) EXPECT_TRUE(reader.get());
}

TEST_F(mount_test, stopped_server_gives_eio_without_hanging) {
  server_.reset();
  std::this_thread::sleep_for(1100ms);  // past the attribute cache
  const auto started = std::chrono::steady_clock::now();
  const run_result r = shell("cat " + in("CUSTOMERS/CUSTOMERS/C1"), 20s);
  EXPECT_TRUE(r.exited);
  EXPECT_NE(r.exit_code, 0);
  EXPECT_NE(r.err.find("Input/output error"), std::string::npos) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - started, 10s);
}

}  // namespace
}  // namespace ombrix::e2e
