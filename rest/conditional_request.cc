#include "rest/conditional_request.h"

#include <vector>

#include "json/reply_texts.h"

namespace ombrix {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Parses "*" or a list of entity tags ("x", W/"x"; weak ones kept only when `keep_weak`) into
// `tags`; false for anything else. An empty header means no condition.
bool parse_tags(std::string_view header, bool keep_weak, bool& any,
                std::vector<std::string>& tags) {
  std::size_t pos = 0;
  const auto skip_blanks = [&] {
    while (pos < header.size() && is_blank(header[pos])) ++pos;
  };
  skip_blanks();
  if (pos < header.size() && header[pos] == '*') {
    ++pos;
    skip_blanks();
    any = pos == header.size();
    return any;
  }
  bool expect_tag = true;
  while (pos < header.size()) {
    if (!expect_tag) {
      if (header[pos] != ',') return false;
      ++pos;
      skip_blanks();
      expect_tag = true;
      continue;
    }
    if (header[pos] == ',') {  // empty list elements are allowed
      ++pos;
      skip_blanks();
      continue;
    }
    bool weak = false;
    if (header.substr(pos, 2) == "W/") {
      weak = true;
      pos += 2;
    }
    if (pos >= header.size() || header[pos] != '"') return false;
    const std::size_t end = header.find('"', pos + 1);
    if (end == std::string_view::npos) return false;
    if (!weak || keep_weak) tags.emplace_back(header.substr(pos + 1, end - pos - 1));
    pos = end + 1;
    skip_blanks();
    expect_tag = false;
  }
  return true;
}

}  // namespace

std::optional<item_condition> request_condition(const environment& env) {
  item_condition condition;
  const std::string_view match = env.value("HTTP_IF_MATCH");
  const std::string_view none_match = env.value("HTTP_IF_NONE_MATCH");
  std::size_t weak_only = 0;
  if (!match.empty()) {
    // Strong comparison: a weak tag never matches, so a list of weak tags only matches nothing.
    if (!parse_tags(match, false, condition.must_exist, condition.match)) return std::nullopt;
    if (!condition.must_exist && condition.match.empty()) weak_only = 1;
  }
  if (!none_match.empty() &&
      !parse_tags(none_match, true, condition.must_be_absent, condition.none_match)) {
    return std::nullopt;
  }
  // An If-Match of weak tags alone can match no item: kept as a tag no item has.
  if (weak_only != 0) condition.match.emplace_back("-");
  return condition;
}

bool wants_item_tag(const environment& env) {
  return !env.value("HTTP_IF_MATCH").empty() || !env.value("HTTP_IF_NONE_MATCH").empty() ||
         !env.value("QS_ETAG").empty();
}

void add_tag_line(std::string& reply, std::string_view tag) {
  std::string line = "ETag: \"";
  line.append(tag).append("\"\r\n");
  if (reply.empty()) {
    reply.append("Content-Type:application/json\r\n").append(line).append("\r\n");
    return;
  }
  const std::size_t first_end = reply.find("\r\n");
  reply.insert(first_end == std::string::npos ? reply.size() : first_end + 2, line);
}

int refuse_precondition(std::string& reply) {
  return make_error_reply(reply, precondition_failed, "",
                          "Precondition failed: the item is not in the state the request expects.");
}

}  // namespace ombrix
