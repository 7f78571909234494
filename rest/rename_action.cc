// Rename (GET rename): gives an item a new id within its file through the host's whole-item
// move: one transaction where the host has it (the embedded store), else read, create under the
// new id and delete of the old one, not undone when a later step fails. Other requests of this
// server that change either id wait until the move is done. Renaming onto the same id only
// checks that the item exists.
//
// Opt-ins beyond that, which the plain request never sends: replace=1 replaces an existing
// target in the same single step (an atomic save over a file); id names the old item and
// newid the new one where a URL path cannot carry the id (item_segments).

#include <string>
#include <vector>

#include "rest/actions.h"
#include "rest/item_path.h"
#include "json/reply_texts.h"
#include "base/diagnostics.h"

namespace ombrix {

namespace {

// The new path may differ from the old one only in its last segment (letter case counts, also
// when the root check ignores it).
bool same_directory(const std::vector<std::string>& old_segments,
                    const std::vector<std::string>& new_segments) {
  if (new_segments.size() != old_segments.size()) return false;
  for (std::size_t i = 0; i + 1 < new_segments.size(); ++i) {
    if (new_segments[i] != old_segments[i]) return false;
  }
  return true;
}

}  // namespace

int rename_action(const action_request& request, std::string& reply) {
  const std::vector<std::string> old_segments =
      item_segments(request.rest, request.env.value("QS_ID"));
  std::optional<item_path> old_path =
      checked_item_path(path_action::rename, old_segments, request.session, request.config, reply);
  if (!old_path) return path_refusal_status;

  std::vector<std::string> new_segments;
  if (const std::string_view new_id = request.env.value("QS_NEWID"); !new_id.empty()) {
    new_segments = old_segments;
    new_segments.back() = std::string(new_id);
  } else {
    new_segments = split(request.env.value("QS_NEWNAME"), "/");
  }
  if (!same_directory(old_segments, new_segments)) {
    debug_line(request.config, 1, "rename does not allow item to be moved to different file");
    return make_error_reply(
        reply, 400, "",
        "'move' is not supported for 'rename' (new and old directory must be the same).");
  }
  // As many segments as the old path, which resolved, so this resolves too.
  const std::optional<item_path> new_path = resolve_item_path(new_segments, request.session);
  if (!new_path) return make_error_reply(reply, 500, "", "Unexpected exception");

  // Held for the whole move: no change of either id by another request of this server can land
  // in between, also on hosts that move an item by separate calls.
  const auto held = request.locks.lock_pair(request.session.account_name, old_path->file,
                                            old_path->item, new_path->item);
  request.host.move_item(old_path->file, old_path->item, new_path->item,
                         request.env.value("QS_REPLACE") == "1",
                         request.config.host_version == 71 ? create_style::empty_then_write
                                                           : create_style::with_content);
  reply.clear();
  return 200;
}

}  // namespace ombrix
