#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "rest/item_locks.h"
#include "tests/rest/rest_test_support.h"

namespace ombrix {
namespace {

// The items of one file, shared by the request threads of a test; every operation is atomic on
// its own, as a database's are, and a read pauses briefly to give a racing request its chance.
struct shared_items {
  std::mutex mutex;
  std::map<text, text> items;
  item_lock_table locks;  // the requests' locks, shared as the server shares its table

  std::optional<text> find(const text& item) {
    const std::lock_guard lock(mutex);
    auto found = items.find(item);
    if (found == items.end()) return std::nullopt;
    return found->second;
  }
};

class shared_items_host : public fake_host {
 public:
  explicit shared_items_host(shared_items& store) : store_(store) {}

  text read_item(const text&, const text& item, std::int32_t, std::int32_t, std::int32_t,
                 std::int16_t) override {
    std::optional<text> content = store_.find(item);
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    if (!content) throw _com_error(host_error_code(202), u"Item not found");
    return *content;
  }
  void write_item(const text&, const text& item, const text& content, std::int32_t,
                  std::int32_t, std::int32_t, std::int32_t) override {
    const std::lock_guard lock(store_.mutex);
    store_.items[item] = content;
  }
  void create_item(const text&, const text& item, const text& content) override {
    const std::lock_guard lock(store_.mutex);
    if (!store_.items.emplace(item, content).second) {
      throw _com_error(host_error_code(204), u"Item exists");
    }
  }
  void delete_item(const text&, const text& item) override {
    const std::lock_guard lock(store_.mutex);
    if (store_.items.erase(item) == 0) throw _com_error(host_error_code(202), u"Item not found");
  }
  // FTFSCMD COPY to the id of option `to`, in two steps as a host may run it: read the source,
  // then write the target.
  text call_subroutine(const text&, const text&, const text& parameters) override {
    std::vector<text> lines(1);
    for (const char16_t unit : parameters) {
      if (unit == u'\n') {
        lines.back().pop_back();  // the CR
        lines.emplace_back();
      } else {
        lines.back().push_back(unit);
      }
    }
    const auto option_at = [](const text& line, std::size_t index) {
      std::size_t start = 0;
      for (; index > 0; --index) start = line.find(value_mark, start) + 1;
      return line.substr(start, line.find(value_mark, start) - start);
    };
    std::size_t to_index = 0;
    // Bounded: option lines that lost their marks must fail the test, not hang it.
    while (to_index < 8 && option_at(lines.at(2), to_index) != u"to") ++to_index;
    if (to_index == 8) throw _com_error(host_error_code(205), u"no option 'to'");
    const text to = option_at(lines.at(3), to_index);
    const text content = read_item({}, lines.at(1), 0, 0, 0, 0);
    write_item({}, to, content, 0, 0, 0, 0);
    return u"1 item copied.\r\n" + to;
  }

 private:
  shared_items& store_;
};

const kelm_info session{"ACCT**test", "ACCT", "MD"};

// Runs one action on its own host object; a host error counts as a refusal (status 0).
int run_action(action_fn action, std::string name, std::vector<std::string> rest,
               std::string body, environment env, shared_items& store) {
  shared_items_host host(store);
  std::string reply;
  const action_request request{std::move(name), std::move(rest), body, env, session, host, store.locks, default_settings};
  try {
    return action(request, reply);
  } catch (const _com_error&) {
    return 0;
  }
}

environment renamed_to(const std::string& target) {
  environment env{{"QS_NEWNAME", target}};
  return env;
}

// Starts both requests together, the first one a little ahead.
template <typename First, typename Second>
void race(First first, Second second) {
  std::atomic<bool> go{false};
  std::thread ahead([&] {
    while (!go) std::this_thread::yield();
    first();
  });
  std::thread behind([&] {
    while (!go) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::microseconds(50));
    second();
  });
  go = true;
  ahead.join();
  behind.join();
}

// Runs `first` and `second` against a fresh store in 200 rounds, each one ahead in turn, and
// counts the rounds whose outcome `sound` refuses.
template <typename Setup, typename Sound>
int unsound_rounds(Setup setup, action_fn first_action, std::vector<std::string> first_rest,
                   std::string first_body, environment first_env, action_fn second_action,
                   std::vector<std::string> second_rest, environment second_env, Sound sound) {
  int unsound = 0;
  for (int round = 0; round < 200; ++round) {
    shared_items store;
    setup(store);
    int one = -1;
    int two = -1;
    const char* first_name = first_action == command_action  ? "cmd"
                             : first_action == rename_action ? "rename"
                                                             : "file";
    auto first = [&] { one = run_action(first_action, first_name, first_rest, first_body, first_env, store); };
    auto second = [&] { two = run_action(second_action, "rename", second_rest, "", second_env, store); };
    if (round % 2 == 0) {
      race(second, first);
    } else {
      race(first, second);
    }
    if (!sound(store, one, two)) ++unsound;
  }
  return unsound;
}

// Either order is sound: the write then the rename leaves Y = new; the rename then the write
// leaves Y = old and X = new. A write between the read and the delete vanished.
TEST(item_locks_test, WriteRacingARenameOfTheSameItemIsNeverLost) {
  EXPECT_EQ(unsound_rounds([](shared_items& s) { s.items[u"X"] = u"old"; }, update_item_action,
                           {"MD", "X"}, R"({"data":["new"]})", {}, rename_action, {"MD", "X"},
                           renamed_to("MD/Y"),
                           [](shared_items& s, int written, int renamed) {
                             return written == 200 && renamed == 200 &&
                                    (s.find(u"X") == text(u"new") || s.find(u"Y") == text(u"new"));
                           }),
            0);
}

// COPY took no item locks: a copy onto A landing between the read and the delete of a rename of
// A was answered 200 and then lost (45 of 150 rounds over the real server).
TEST(item_locks_test, CopyRacingARenameOfItsTargetIsNeverLost) {
  EXPECT_EQ(unsound_rounds(
                [](shared_items& s) {
                  s.items[u"A"] = u"old";
                  s.items[u"F"] = u"copy";
                },
                command_action, {"COPY", "MD", "F"}, R"({"to":"A","overwrite":true})", {},
                rename_action, {"MD", "A"}, renamed_to("MD/B"),
                [](shared_items& s, int copied, int renamed) {
                  return copied == 200 && renamed == 200 &&
                         (s.find(u"A") == text(u"copy") || s.find(u"B") == text(u"copy"));
                }),
            0);
}

TEST(item_locks_test, TwoRenamesOfOneItemNeverLeaveTwoCopies) {
  EXPECT_EQ(unsound_rounds([](shared_items& s) { s.items[u"X"] = u"one"; }, rename_action,
                           {"MD", "X"}, "", renamed_to("MD/Y"), rename_action, {"MD", "X"},
                           renamed_to("MD/Z"),
                           [](shared_items& s, int to_y, int to_z) {
                             return s.items.size() == 1 && !s.find(u"X") &&
                                    (to_y == 200) + (to_z == 200) == 1;
                           }),
            0);
}

TEST(item_locks_test, StripesFoldLetterCaseAndSeparateTheParts) {
  EXPECT_EQ(item_lock_table::stripe_of("acct", u"cust", u"c1"),
            item_lock_table::stripe_of("ACCT", u"CUST", u"C1"));
  // Across many ids the stripes spread; a constant stripe would serialise every request.
  std::vector<bool> used(item_lock_table::stripe_count);
  for (int i = 0; i < 4096; ++i) {
    const std::string id = std::to_string(i);
    used[item_lock_table::stripe_of("ACCT", u"CUST", text(id.begin(), id.end()))] = true;
  }
  EXPECT_EQ(std::count(used.begin(), used.end(), true),
            static_cast<long>(item_lock_table::stripe_count));
}

TEST(item_locks_test, PairOnOneStripeAndCrossedPairsDoNotDeadlock) {
  item_lock_table table;
  { const auto both = table.lock_pair("A", u"F", u"X", u"X"); }
  // Crossed orders from two threads: each takes its stripes low first, so both finish.
  std::thread one([&] {
    for (int i = 0; i < 2000; ++i) const auto held = table.lock_pair("A", u"F", u"P", u"Q");
  });
  std::thread two([&] {
    for (int i = 0; i < 2000; ++i) const auto held = table.lock_pair("A", u"F", u"Q", u"P");
  });
  one.join();
  two.join();
  const auto again = table.lock("A", u"F", u"P");  // released: does not block
}

}  // namespace
}  // namespace ombrix
