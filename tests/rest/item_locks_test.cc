#include <algorithm>
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
    auto found = items.find(item);
    return found == items.end() ? std::nullopt : std::optional<text>(found->second);
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
  void write_item(const text&, const text& item, const text& content, std::int32_t, std::int32_t,
                  std::int32_t, std::int32_t) override {
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
  // FTFSCMD COPY to the id of the only option, `to`, in two steps as a host may run it: read the
  // source, then write the target.
  text call_subroutine(const text&, const text&, const text& parameters) override {
    std::vector<text> lines;
    for (std::size_t from = 0; from <= parameters.size();) {
      const std::size_t end = std::min(parameters.find(u"\r\n", from), parameters.size());
      lines.push_back(parameters.substr(from, end - from));
      from = end + 2;
    }
    if (lines.size() != 4 || lines[2] != u"to") throw _com_error(host_error_code(205), u"no option 'to'");
    write_item({}, lines[3], read_item({}, lines[1], 0, 0, 0, 0), 0, 0, 0, 0);
    return u"1 item copied.\r\n" + lines[3];
  }

 private:
  shared_items& store_;
};

const kelm_info session{"ACCT**test", "ACCT", "MD"};

struct step {
  action_fn action;
  std::string name;
  std::vector<std::string> rest;
  std::string body;
  environment env;
};

// Runs one action on its own host object; a host error counts as a refusal (status 0).
int run_step(const step& s, shared_items& store) {
  shared_items_host host(store);
  std::string reply;
  try {
    return s.action({s.name, s.rest, s.body, s.env, session, host, store.locks, default_settings}, reply);
  } catch (const _com_error&) {
    return 0;
  }
}

// Runs both steps against a fresh store in 200 rounds, each one a little ahead in turn, and
// counts the rounds whose outcome `sound` refuses.
int unsound_rounds(const std::map<text, text>& items, const step& first, const step& second,
                   const std::function<bool(shared_items&, int, int)>& sound) {
  int unsound = 0;
  for (int round = 0; round < 200; ++round) {
    shared_items store;
    store.items = items;
    int status[2] = {-1, -1};
    std::atomic<bool> go{false};
    std::vector<std::thread> threads;
    for (int i = 0; i < 2; ++i) {
      threads.emplace_back([&, i] {
        while (!go) std::this_thread::yield();
        if (i == round % 2) std::this_thread::sleep_for(std::chrono::microseconds(50));
        status[i] = run_step(i == 0 ? first : second, store);
      });
    }
    go = true;
    for (std::thread& thread : threads) thread.join();
    if (!sound(store, status[0], status[1])) ++unsound;
  }
  return unsound;
}

step rename_to(std::string from, std::string to) {
  return {rename_action, "rename", {"MD", from}, "", {{"QS_NEWNAME", "MD/" + to}}};
}

// A write between the read and the delete of a rename vanished; COPY took no item locks, so a
// copy onto A landing between the read and the delete of a rename of A was answered 200 and then
// lost (45 of 150 rounds over the real server); two renames of one item left two copies.
TEST(item_locks_test, RacingRequestsOnOneItemNeverLoseOrDuplicateIt) {
  EXPECT_EQ(unsound_rounds({{u"X", u"old"}}, {update_item_action, "file", {"MD", "X"}, R"({"data":["new"]})", {}},
                           rename_to("X", "Y"), [](shared_items& s, int written, int renamed) {
              return written == 200 && renamed == 200 && (s.find(u"X") == text(u"new") || s.find(u"Y") == text(u"new"));
            }), 0);
  EXPECT_EQ(unsound_rounds({{u"A", u"old"}, {u"F", u"copy"}}, {command_action, "cmd", {"COPY", "MD", "F"},
                           R"({"to":"A"})", {}}, rename_to("A", "B"), [](shared_items& s, int copied, int renamed) {
              return copied == 200 && renamed == 200 &&
                     (s.find(u"A") == text(u"copy") || s.find(u"B") == text(u"copy"));
            }), 0);
  EXPECT_EQ(unsound_rounds({{u"X", u"one"}}, rename_to("X", "Y"), rename_to("X", "Z"),
                           [](shared_items& s, int to_y, int to_z) {
              return s.items.size() == 1 && !s.find(u"X") && (to_y == 200) + (to_z == 200) == 1;
            }), 0);
}

TEST(item_locks_test, StripesFoldLetterCaseSpreadAndPairsDoNotDeadlock) {
  EXPECT_EQ(item_lock_table::stripe_of("acct", u"cust", u"c1"), item_lock_table::stripe_of("ACCT", u"CUST", u"C1"));
  // Across many ids the stripes spread; a constant stripe would serialise every request.
  std::vector<bool> used(item_lock_table::stripe_count);
  for (int i = 0; i < 4096; ++i) {
    const std::string id = std::to_string(i);
    used[item_lock_table::stripe_of("ACCT", u"CUST", text(id.begin(), id.end()))] = true;
  }
  EXPECT_EQ(std::count(used.begin(), used.end(), true), static_cast<long>(item_lock_table::stripe_count));
  item_lock_table table;
  { const auto both = table.lock_pair("A", u"F", u"X", u"X"); }  // one stripe, taken once
  // Crossed orders from two threads: each takes its stripes low first, so both finish.
  std::thread one([&] { for (int i = 0; i < 2000; ++i) const auto held = table.lock_pair("A", u"F", u"P", u"Q"); });
  std::thread two([&] { for (int i = 0; i < 2000; ++i) const auto held = table.lock_pair("A", u"F", u"Q", u"P"); });
  one.join();
  two.join();
  const auto again = table.lock("A", u"F", u"P");  // released: does not block
}

}  // namespace
}  // namespace ombrix
