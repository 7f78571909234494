// End-to-end: a seeded server, ombrix-mount on a temporary mount point, real tools on it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <ctime>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

namespace fs = std::filesystem;

run_result shell(const std::string& command, std::chrono::milliseconds timeout = 30s) { return run_program({"/bin/sh", "-c", command}, {}, timeout); }
std::string out(const std::string& command) { return shell(command).out; }
bool is_mounted(const std::string& point) { return read_file("/proc/mounts").find(" " + point + " ") != std::string::npos; }
// True while some ombrix-mount process has `point` among its arguments.
bool process_uses(const std::string& point) {
  return std::any_of(fs::directory_iterator("/proc"), fs::directory_iterator(), [&](const fs::directory_entry& entry) {
    const std::string cmdline = read_file(entry.path() / "cmdline");
    return cmdline.find("ombrix-mount") != std::string::npos && cmdline.find(point) != std::string::npos;
  });
}
std::string item_body(std::string_view id, std::string_view data) { return item_json(id, data) + "\r\n"; }
// Writes `content` through a descriptor opened with `flags`; the errno of the close (0: success).
int write_and_close(const std::string& path, const std::string& content, int flags) {
  const int fd = ::open(path.c_str(), flags, 0644);
  if (fd < 0 || ::write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size())) return -1;
  return ::close(fd) == 0 ? 0 : errno;
}

class mount_test : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access("/dev/fuse", R_OK | W_OK) != 0 || shell("command -v fusermount3").exit_code != 0) GTEST_SKIP() << "no /dev/fuse or fusermount3";
    ASSERT_EQ(prepare_data_root(data_.str()), "");
    server_ = std::make_unique<server_process>(server_command(), data_.str(), std::vector<std::string>{"-d", "1"});
    point_ = (place_.path() / "m").string();
    fs::create_directory(point_);
    const run_result mounted = run_program({std::string(OMBRIX_BINARY_DIR) + "/ombrix-mount", "--port", std::to_string(server_->port()),
                                            "--root", "MD", "--timeout", "2", "--recovery", recovered_.str(), point_});
    ASSERT_TRUE(mounted.exited && mounted.exit_code == 0) << mounted.err;
    ASSERT_TRUE(is_mounted(point_));
  }
  void TearDown() override {
    if (point_.empty()) return;
    if (is_mounted(point_)) shell("fusermount3 -u " + point_ + " || fusermount3 -uz " + point_);
    unmount();
    EXPECT_FALSE(is_mounted(point_) || process_uses(point_));
  }
  void unmount() {
    shell("fusermount3 -u " + point_);
    for (int i = 0; i < 100 && process_uses(point_); ++i) std::this_thread::sleep_for(50ms);
  }
  rest_client rest() {
    rest_client client(server_->port());
    EXPECT_TRUE(client.login());
    return client;
  }
  std::string rest_get(const std::string& path) { return rest().get(api + path).body; }
  std::size_t requests_answered() const {  // one "Velquor returned status" line each at -d 1
    const std::string log = server_->stderr_text();
    std::size_t count = 0;
    for (std::size_t at = log.find("Velquor returned status"); at != std::string::npos; at = log.find("Velquor returned status", at + 1)) ++count;
    return count;
  }
  std::vector<std::pair<std::string, std::string>> recovered() const {  // files and contents
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& entry : fs::recursive_directory_iterator(recovered_.path())) {
      if (entry.is_regular_file()) files.emplace_back(fs::relative(entry.path(), recovered_.path()).string(), read_file(entry.path()));
    }
    return files;
  }
  std::string in(const std::string& relative) const { return point_ + "/" + relative; }

  temp_dir data_{"ombrix-mount-data"}, place_{"ombrix-mount-point"}, recovered_{"ombrix-mount-recovered"};
  std::unique_ptr<server_process> server_;
  std::string point_;
};

TEST_F(mount_test, layout_listing_sizes_and_contents_match_the_account) {
  EXPECT_EQ(out("ls " + point_), "BP\nCUSTOMERS\nMD\n");
  EXPECT_EQ(out("ls " + in("CUSTOMERS")), "CUSTOMERS\nHIST\n");
  for (const auto& [id, text] : seeded_customers()) EXPECT_EQ(read_file(in("CUSTOMERS/CUSTOMERS/" + id)), text) << id;
  temp_dir exported("ombrix-mount-export");
  ASSERT_EQ(run_admin(data_.str(), {"export", "MAIN", "CUSTOMERS", exported.str()}).exit_code, 0);
  EXPECT_EQ(shell("diff -r " + exported.str() + " " + in("CUSTOMERS/CUSTOMERS")).exit_code, 0);
  EXPECT_EQ(out("stat -c '%s %b' " + in("CUSTOMERS/CUSTOMERS/C2")), "13 1\n");
  write_file(in("CUSTOMERS/HIST/BIG"), std::string(5119, 'x') + "\n");
  EXPECT_EQ(out("stat -c '%s %b' " + in("CUSTOMERS/HIST/BIG")), "5120 10\n");
  EXPECT_EQ(out("du -k " + in("CUSTOMERS/HIST/BIG") + " | cut -f1"), "5\n");  // 10 blocks, 5 KiB
}

TEST_F(mount_test, copies_edits_appends_and_editor_saves_reach_the_account) {
  temp_dir source("ombrix-mount-src");
  write_file(source.path() / "N1", "one\ntwo\n");
  ASSERT_EQ(shell("cp -r " + source.str() + "/. " + in("CUSTOMERS/HIST")).exit_code, 0);
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/HIST/N1"), item_body("N1", R"(["one","two"])"));
  ASSERT_EQ(shell("sed -i 's/two/TWO/' " + in("CUSTOMERS/HIST/N1") + " && echo three >> " + in("CUSTOMERS/HIST/N1")).exit_code, 0);
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/HIST/N1"), item_body("N1", R"(["one","TWO","three"])"));
  EXPECT_EQ(out("ls -a " + in("CUSTOMERS/HIST")), ".\n..\nN1\n");  // sed's temporary file was renamed
  // vim's save (swap file, backup by rename) leaves only the new item.
  const std::string file = in("CUSTOMERS/CUSTOMERS/C2");
  const run_result vim = shell("cd /tmp && vim -es -u NONE -c 'set nobackup writebackup swapfile' -c '%s/Bob/Rob/' -c wq " + file);
  ASSERT_EQ(vim.exit_code, 0) << vim.out << vim.err;
  EXPECT_EQ(read_file(file), "Rob Jones\n42\n");
  EXPECT_EQ(out("ls -a " + in("CUSTOMERS/CUSTOMERS")), ".\n..\nC1\nC2\nC3\n");
  EXPECT_EQ(rest_get("dir/MD/CUSTOMERS/CUSTOMERS").find("sw"), std::string::npos);
}

TEST_F(mount_test, rename_remove_and_refusals) {
  const std::string dir = in("CUSTOMERS/CUSTOMERS/"), c1 = seeded_customers()[0].second;
  // A malformed escape names no id: EINVAL (mv: "a subdirectory of itself"), and nothing moves.
  EXPECT_NE(shell("mv " + dir + "C1 " + dir + "%%zz").err.find("to a subdirectory of itself"), std::string::npos);
  EXPECT_EQ(read_file(dir + "C1"), c1);
  EXPECT_EQ(shell("mv " + dir + "C1 " + dir + "C9 && mv " + dir + "C9 " + dir + "C2").exit_code, 0);  // then over an item
  EXPECT_EQ(read_file(dir + "C2"), c1);
  EXPECT_EQ(shell("mv " + dir + "C2 " + in("CUSTOMERS/HIST/")).exit_code, 0);  // across sections
  EXPECT_EQ(out("ls " + dir), "C3\n");
  EXPECT_EQ(read_file(in("CUSTOMERS/HIST/C2")), c1);
  EXPECT_EQ(shell("rm " + dir + "C3").exit_code, 0);
  EXPECT_NE(rest_get("file/MD/CUSTOMERS/CUSTOMERS/C3").find("\"code\":\"202\""), std::string::npos);
  EXPECT_NE(shell("mkdir " + dir + "X").err.find("Operation not permitted"), std::string::npos);
}

TEST_F(mount_test, dotfiles_tilde_and_editor_named_files_copied_in_reach_the_account) {
  temp_dir source("ombrix-mount-dots");
  const std::pair<std::string, std::string> files[] = {{".env", "A=1\n"}, {"notes~", "n\n"}, {"#draft#", "d\n"}, {"4913", "p\n"}};
  for (const auto& [name, text] : files) write_file(source.path() / name, text);
  ASSERT_EQ(shell("cp -a " + source.str() + "/. " + in("CUSTOMERS/HIST/")).exit_code, 0);
  // cp has ended: the editor-like names outlived their creator and are saved within a second.
  std::string listing;
  for (int i = 0; i < 40 && (listing.find("#draft#") == std::string::npos || listing.find("4913") == std::string::npos); ++i) {
    std::this_thread::sleep_for(100ms), listing = rest_get("dir/MD/CUSTOMERS/HIST");
  }
  for (const auto& [name, text] : files) {
    EXPECT_NE(listing.find("\"id\":\"" + name + "\""), std::string::npos) << name << listing;
    EXPECT_EQ(read_file(in("CUSTOMERS/HIST/" + name)), text) << name;
  }
  // An item with a scratch-like name that exists in the account is a file like any other.
  ASSERT_EQ(rest().put(api + "file/MD/CUSTOMERS/HIST/.C9.swp", R"({"data":["S"]})").status, 200);
  std::this_thread::sleep_for(1100ms);
  EXPECT_EQ(read_file(in("CUSTOMERS/HIST/.C9.swp")), "S\n");
  // A swap file vim removes itself never reaches the account, even while it exists.
  const std::string swap = in("CUSTOMERS/HIST/.plain.swp");
  ASSERT_EQ(write_and_close(swap, "s\n", O_CREAT | O_WRONLY | O_EXCL), 0);
  std::this_thread::sleep_for(700ms);
  EXPECT_TRUE(fs::exists(swap));
  EXPECT_EQ(rest_get("dir/MD/CUSTOMERS/HIST").find(".plain.swp"), std::string::npos);
  ASSERT_EQ(::unlink(swap.c_str()), 0);
  // What is left at unmount is saved: nothing written and closed is lost.
  ASSERT_EQ(write_and_close(in("CUSTOMERS/HIST/#kept#"), "k\n", O_CREAT | O_WRONLY | O_EXCL), 0);
  unmount();  // this process, its creator, still runs
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/HIST/%23kept%23"), item_body("#kept#", R"(["k"])"));
}

// A reader polling a file while it is saved by rename over it sees the old or the new content,
// never "not found": through the mount, and through REST (another client of the account).
TEST_F(mount_test, saves_by_rename_never_show_the_file_missing) {
  const std::string file = in("CUSTOMERS/HIST/N1");
  write_file(file, "v0\n");
  std::atomic<bool> done{false};
  std::atomic<int> reads{0}, missing{0}, wrong{0}, rest_reads{0}, rest_missing{0};
  std::thread reader([&] {
    for (char buffer[64]; !done; ++reads) {
      const int fd = ::open(file.c_str(), O_RDONLY);
      const ssize_t got = fd < 0 ? -1 : ::read(fd, buffer, sizeof buffer);
      missing += fd < 0 && errno == ENOENT;
      wrong += fd >= 0 && (got < 3 || buffer[0] != 'v');
      if (fd >= 0) ::close(fd);
    }
  });
  std::thread rest_reader([&] {
    rest_client client(server_->port());
    for (bool in = client.login(); in && !done; ++rest_reads) rest_missing += client.get(api + "file/MD/CUSTOMERS/HIST/N1").status == 404;
  });
  for (const std::string& save : {"sed -i 's/v.*/vs/' " + file, "t=$(mktemp -p " + in("CUSTOMERS/HIST") + ") && echo vt > $t && mv $t " + file}) {
    for (int round = 0; round < 10; ++round) EXPECT_EQ(shell(save).exit_code, 0) << save;
  }
  done = true;
  reader.join(), rest_reader.join();
  EXPECT_TRUE(reads > 20 && rest_reads > 20) << reads << " " << rest_reads;
  EXPECT_EQ(missing + rest_missing + wrong, 0);
  EXPECT_EQ(read_file(file), "vt\n");
  EXPECT_EQ(out("ls -a " + in("CUSTOMERS/HIST")), ".\n..\nN1\n");
}

// A handle opened before someone else's change does not send its old snapshot back: the write
// fails where the application sees it, the account keeps the other change, and the bytes go to
// the recovery folder.
TEST_F(mount_test, stale_handle_write_fails_and_its_bytes_are_kept) {
  const std::string file = in("CUSTOMERS/CUSTOMERS/C2");
  const int fd = ::open(file.c_str(), O_RDWR);
  char buffer[64];
  ASSERT_EQ(::read(fd, buffer, sizeof buffer), 13);
  ASSERT_EQ(rest().put(api + "file/MD/CUSTOMERS/CUSTOMERS/C2", R"({"data":["v4","REST change"]})").status, 200);
  ASSERT_EQ(::pwrite(fd, "R", 1, 0), 1);
  EXPECT_EQ(::fsync(fd) == -1 ? errno : 0, ESTALE);
  EXPECT_EQ(::pwrite(fd, "S", 1, 0), -1);  // the failed handle takes no more
  EXPECT_EQ(::close(fd), -1);
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/CUSTOMERS/C2"), item_body("C2", R"(["v4","REST change"])"));
  const auto kept = recovered();
  ASSERT_EQ(kept.size(), 1u);
  EXPECT_TRUE(kept[0].first.ends_with("/CUSTOMERS/CUSTOMERS/C2") && kept[0].second == "Rob Jones\n42\n") << kept[0].first << kept[0].second;
  write_file(file, "v5\n");  // a new handle reads the other change and can build on it
  EXPECT_EQ(rest_get("file/MD/CUSTOMERS/CUSTOMERS/C2"), item_body("C2", R"(["v5"])"));
}

// A save that failed because the server was gone is never sent again, also once the server is
// back; its bytes are in the recovery folder.
TEST_F(mount_test, failed_save_does_not_land_after_the_server_returns) {
  const std::string file = in("CUSTOMERS/CUSTOMERS/C3"), before = read_file(file);
  const int fd = ::open(file.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);  // the server below must not hold it
  ASSERT_EQ(::write(fd, "lost\n", 5), 5);
  const int port = server_->port();
  server_.reset();
  EXPECT_EQ(::fsync(fd) == -1 ? errno : 0, EIO);
  // The server comes back on the port the mount uses.
  const pid_t restarted = std::stoi(out("OMBRIX_DATA=" + data_.str() + " " + server_command()[0] + " -p " + std::to_string(port) + " >/dev/null 2>&1 & echo $!"));
  rest_client client(port);
  for (int i = 0; i < 100 && !client.login(); ++i) std::this_thread::sleep_for(50ms);
  EXPECT_EQ(::close(fd), -1);
  std::this_thread::sleep_for(1500ms);
  EXPECT_EQ(client.get(api + "file/MD/CUSTOMERS/CUSTOMERS/C3").body, item_body("C3", "[\"Cl\xC3\xA9o Dupr\xC3\xA9\"]"));
  EXPECT_EQ(read_file(file), before);
  const auto kept = recovered();
  unmount();
  ::kill(restarted, SIGTERM);
  EXPECT_EQ(kept.size() == 1 ? kept[0].second : "", "lost\n");
}

// What the item form cannot hold fails the write (and makes no item); everything else reads
// back byte for byte. Each refused content goes to a file of its own name: a handle of the same
// path whose release is still on its way (the kernel sends releases after close returns) would
// save the truncated file between the open and the write, as it should.
TEST_F(mount_test, contents_read_back_as_written_or_the_write_fails) {
  const std::string file = in("CUSTOMERS/HIST/T"), exact = "a\nb" + std::string(vm) + "c\n\nd\n";
  EXPECT_EQ((write_file(file, exact), read_file(file)), exact);
  const std::pair<std::string, int> refused[] = {{"no line end", EINVAL}, {"x\n\n", EINVAL}, {"a\r\n", EINVAL}, {"\xFF\n", EILSEQ}};
  for (std::size_t i = 0; i < std::size(refused); ++i) {
    const std::string id = std::string("R") + std::to_string(i);
    EXPECT_EQ(write_and_close(in("CUSTOMERS/HIST/" + id), refused[i].first, O_CREAT | O_WRONLY | O_EXCL), refused[i].second) << id;
    EXPECT_EQ(rest().get(api + "file/MD/CUSTOMERS/HIST/" + id).status, 404) << id;
    EXPECT_FALSE(fs::exists(in("CUSTOMERS/HIST/" + id))) << id;
  }
  EXPECT_EQ(recovered().size(), 4u);
  // Beyond what one request may carry: refused at once, not when the memory runs out.
  EXPECT_NE(shell("truncate -s 200M " + file).err.find("File too large"), std::string::npos);
  EXPECT_EQ(read_file(file), exact);
}

// ls -l of 2,000 items is the section's listing with their contents and those of the two
// directories above it, not a request per item. A listing kept past its time under a loaded
// machine may be asked for again, so the bound leaves room for a few.
TEST_F(mount_test, ls_l_of_a_large_section_is_one_request) {
  temp_dir items("ombrix-mount-many");
  for (int i = 0; i < 2000; ++i) write_file(items.path() / std::string("M").append(std::to_string(i)), "m\n");
  ASSERT_EQ(run_admin(data_.str(), {"create-file", "MAIN", "MANY"}).exit_code, 0);
  ASSERT_EQ(run_admin(data_.str(), {"import", "MAIN", "MANY", items.str()}).exit_code, 0);
  std::this_thread::sleep_for(1100ms);
  const std::size_t before = requests_answered();
  EXPECT_EQ(out("ls -l " + in("MANY/MANY") + " | grep -c ' 2 '"), "2000\n");
  std::this_thread::sleep_for(200ms);  // the status lines may follow the replies
  EXPECT_LE(requests_answered() - before, 12u);
}

// Times are the account's: a save sets one, touch -d sets its own (kept after the listing is asked
// for again), so find -newer and rsync see what really changed.
TEST_F(mount_test, times_follow_saves_touch_and_rsync) {
  const std::string hist = in("CUSTOMERS/HIST");
  const auto mtime_of = [&](const std::string& path) { return out("TZ=UTC stat -c %y " + path); };
  const std::time_t before = std::time(nullptr);
  // While a new file is open it shows the time of its creation, not 1970.
  EXPECT_EQ(shell("exec 3>" + hist + "/NEW && test $(stat -c %Y " + hist + "/NEW) -ge " + std::to_string(before - 1)).exit_code, 0);
  write_file(hist + "/NEW", "n\n");
  const long saved = std::stol(out("stat -c %Y " + hist + "/NEW"));
  EXPECT_TRUE(saved >= before - 1 && saved <= std::time(nullptr) + 1) << saved;
  ASSERT_EQ(shell("TZ=UTC touch -d '2001-02-03 04:05:06.25' " + hist + "/NEW").exit_code, 0);
  EXPECT_EQ(mtime_of(hist + "/NEW"), "2001-02-03 04:05:06.250000000 +0000\n");
  write_file(hist + "/LATER", "l\n");
  EXPECT_EQ(out("cd " + hist + " && find . -type f -newer NEW"), "./LATER\n");
  std::this_thread::sleep_for(1100ms);  // the listing is asked for again
  EXPECT_EQ(mtime_of(hist + "/NEW"), "2001-02-03 04:05:06.250000000 +0000\n");
}

}  // namespace
}  // namespace ombrix::e2e
