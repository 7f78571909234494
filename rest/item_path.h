// File and item paths: how the segments after an action name name a host file and an item, and
// the path checks (order, codes, messages, diagnostic lines) that the file actions share.
// Pure functions apart from the diagnostic lines; thread-safe.
//
//   rest {"MD", "X"}                  -> file = md_name, item "X"
//   rest {R, "CUST", "C1"}            -> file "DICT CUST", item "C1"
//   rest {R, "CUST", "CUST", "C1"}    -> file "CUST", item "C1"
//   rest {R, "CUST", "HIST", "C1"}    -> file "CUST,HIST", item "C1"
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/settings.h"
#include "host/text.h"
#include "rest/kelm_info.h"

namespace ombrix {

// Every path refusal answers with this status.
inline constexpr int path_refusal_status = 400;

// True when `segment` names the session's root: its md_name or its account_name. Exact byte
// comparison, or equals_ignore_case when config.case_insensitive is set.
bool is_root_name(std::string_view segment, const kelm_info& session, const settings& config);

// A host file name and an item id.
struct item_path {
  text file;
  text item;
};

// Resolves the rest segments R,I / R,F,I / R,F,D,I; nothing for any other count. The first
// segment is not examined (callers check it with is_root_name). F and D are compared exactly.
// Throws std::range_error when a segment or md_name used is not valid UTF-8.
std::optional<item_path> resolve_item_path(const std::vector<std::string>& rest,
                                           const kelm_info& session);

// Resolves the rest segments R / R,F / R,F,D to the file to list; nothing for none or four and
// more. Throws std::range_error like resolve_item_path.
std::optional<text> resolve_directory_path(const std::vector<std::string>& rest,
                                           const kelm_info& session);

// The segments an item action resolves: the URL path's, then the value of the query parameter
// id when it is given and not empty. That is how a client names an id a URL path cannot carry
// (one holding "/", or "." and ".." that URL tools collapse); requests without it are unchanged.
std::vector<std::string> item_segments(const std::vector<std::string>& rest,
                                       std::string_view id_parameter);

// The actions whose paths go through the shared checks; each has its own refusal texts.
enum class path_action { read, update_create, remove, stat, rename };

// Runs the shared checks for an item action in their order (no segment, root name, segment
// count) and resolves the path. On a refusal writes the action's diagnostic line (when
// config.debug_level is not 0), replaces `reply` with the error reply and returns nothing; the
// caller then answers path_refusal_status. Throws std::range_error like resolve_item_path.
std::optional<item_path> checked_item_path(path_action action, const std::vector<std::string>& rest,
                                           const kelm_info& session, const settings& config,
                                           std::string& reply);

// The same checks for the directory listing; a wrong segment count is refused like a missing
// file name.
std::optional<text> checked_directory_path(const std::vector<std::string>& rest,
                                           const kelm_info& session, const settings& config,
                                           std::string& reply);

}  // namespace ombrix
