#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "rest/item_locks.h"
#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

// The items of one file, shared by the request threads of a test, with the requests' lock table.
struct shared_items {
  std::mutex mutex;
  std::map<text, text> items;
  item_lock_table locks;

  std::optional<text> find(const text& item) {
    const std::lock_guard lock(mutex);
    return items.contains(item) ? std::optional<text>(items.at(item)) : std::nullopt;
  }
};

// Every operation is atomic on its own, as a database's are; a read pauses briefly to give a
// racing request its chance.
class shared_items_host : public fake_host {
 public:
  explicit shared_items_host(shared_items& store) : store_(store) {}

  text read_item(const text&, const text& item, std::int32_t, std::int32_t, std::int32_t, std::int16_t) override {
    std::optional<text> content = store_.find(item);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (!content) throw _com_error(host_error_code(202), u"Item not found");
    return *content;
  }
  void write_item(const text&, const text& item, const text& content, std::int32_t, std::int32_t, std::int32_t,
                  std::int32_t) override {
    const std::lock_guard lock(store_.mutex);
    store_.items[item] = content;
  }
  void create_item(const text&, const text& item, const text& content) override {
    const std::lock_guard lock(store_.mutex);
    if (!store_.items.emplace(item, content).second) throw _com_error(host_error_code(204), u"Item exists");
  }
  void delete_item(const text&, const text& item) override {
    const std::lock_guard lock(store_.mutex);
    if (store_.items.erase(item) == 0) throw _com_error(host_error_code(202), u"Item not found");
  }
 private:
  shared_items& store_;
};

// Regression: a write landing between the read and the delete of a rename vanished. Each of 200
// rounds races a write and a rename of X, one a little ahead in turn; both succeed and the new
// content is under one of the two ids.
TEST(item_locks_test, RacingWriteAndRenameOfOneItemNeverLoseTheWrite) {
  const kelm_info session{"ACCT**test", "ACCT", "MD"};
  for (int round = 0; round < 200; ++round) {
    shared_items store;
    store.items = {{u"X", u"old"}};
    const std::string body = R"({"data":["new"]})";
    const environment plain, to_y{{"QS_NEWNAME", "MD/Y"}};
    int status[2] = {-1, -1};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
      threads.emplace_back([&, i] {
        while (!go) std::this_thread::yield();
        if (i == round % 2) std::this_thread::sleep_for(std::chrono::microseconds(50));
        shared_items_host host(store);
        std::string reply;
        try {
          status[i] = i == 0 ? update_item_action({"file", {"MD", "X"}, body, plain, session, host, store.locks,
                                                   default_settings}, reply)
                             : rename_action({"rename", {"MD", "X"}, "", to_y, session, host, store.locks,
                                              default_settings}, reply);
        } catch (const _com_error&) {  // a refusal: status stays -1
        }
      });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    const bool kept = store.find(u"X") == text(u"new") || store.find(u"Y") == text(u"new");
    EXPECT_TRUE(status[0] == 200 && status[1] == 200 && kept) << "round " << round;
  }
}

}  // namespace
}  // namespace ombrix
