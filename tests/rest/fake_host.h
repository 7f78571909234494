// A recording fake host for tests: records every operation with its arguments in call order and
// answers with scripted results or scripted _com_error failures. Not thread-safe.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/com_error.h"
#include "host/text.h"
#include "host/velquor_base.h"
#include "tests/expected_bytes.h"

namespace ombrix {

// One recorded operation: its name, its text and its numeric arguments in parameter order.
struct host_call {
  std::string operation;
  std::vector<text> texts;
  std::vector<std::int64_t> numbers;
  friend bool operator==(const host_call&, const host_call&) = default;
};

inline void PrintTo(const host_call& call, std::ostream* out) {
  *out << call.operation << "(";
  for (const text& value : call.texts) *out << '"' << test::hex_units(value) << "\" ";
  for (std::int64_t number : call.numbers) *out << number << " ";
  *out << ")";
}

class fake_host : public velquor_base {
 public:
  // Queues the answer (or, recorded first, the thrown failure) of the next unanswered call of
  // `operation`; text operations with nothing queued answer the empty text.
  void script(const std::string& operation, text result) { scripted_[operation].emplace_back(std::move(result)); }
  void script_error(const std::string& operation, _com_error error) { scripted_[operation].emplace_back(error); }

  std::vector<host_call> calls;

  void connect(const text& server) override { answer({"connect", {server}, {}}); }
  text get_server_name() override { return answer({"get_server_name", {}, {}}); }
  text get_property_2() override { return answer({"get_property_2", {}, {}}); }
  text get_property_3() override { return answer({"get_property_3", {}, {}}); }
  text get_property_4() override { return answer({"get_property_4", {}, {}}); }
  text get_property_5() override { return answer({"get_property_5", {}, {}}); }
  text read_item(const text& file, const text& item, std::int32_t a, std::int32_t b,
                 std::int32_t c, std::int16_t flag) override {
    return answer({"read_item", {file, item}, {a, b, c, flag}});
  }
  void write_item(const text& file, const text& item, const text& content, std::int32_t a,
                  std::int32_t b, std::int32_t c, std::int32_t d) override {
    answer({"write_item", {file, item, content}, {a, b, c, d}});
  }
  void create_item(const text& f, const text& i, const text& c) override { answer({"create_item", {f, i, c}, {}}); }
  void delete_item(const text& f, const text& i) override { answer({"delete_item", {f, i}, {}}); }
  text stat_item(const text& f, const text& i, const text& s) override { return answer({"stat_item", {f, i, s}, {}}); }
  std::int16_t query_flag_1(const text& a) override { return answer({"query_flag_1", {a}, {}}), 0; }
  std::int16_t query_flag_2(const text& a, const text& b) override { return answer({"query_flag_2", {a, b}, {}}), 0; }
  text list_items(const text& file, std::int32_t attribute, std::int32_t max_count,
                  const text& b, const text& selector) override {
    return answer({"list_items", {file, b, selector}, {attribute, max_count}});
  }
  void invoke_pair(const text& a, const text& b) override { answer({"invoke_pair", {a, b}, {}}); }
  text query_text_1(const text& a, const text& b, std::int16_t f) override { return answer({"query_text_1", {a, b}, {f}}); }
  text call_subroutine(const text& name, const text& first, const text& second) override {
    return answer({"call_subroutine", {name, first, second}, {}});
  }
  text query_text_2(std::int32_t value, const text& a) override { return answer({"query_text_2", {a}, {value}}); }
  void quit() override { answer({"quit", {}, {}}); }

 private:
  using outcome = std::variant<text, _com_error>;

  text answer(host_call call) {
    const std::string operation = call.operation;
    calls.push_back(std::move(call));
    auto found = scripted_.find(operation);
    if (found == scripted_.end() || found->second.empty()) return {};
    outcome next = std::move(found->second.front());
    found->second.pop_front();
    if (auto* error = std::get_if<_com_error>(&next)) throw *error;
    return std::get<text>(std::move(next));
  }

  std::map<std::string, std::deque<outcome>> scripted_;
};

}  // namespace ombrix
