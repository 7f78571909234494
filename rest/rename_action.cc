// Rename (GET rename): gives an item a new id within its file. The host has no rename
// operation, so the item is read, created under the new id and the old one deleted; the steps
// are separate host calls and are not undone when a later one fails. Other requests of this
// server that change either id wait until all three are done.

#include <string>
#include <vector>

#include "rest/actions.h"
#include "rest/item_path.h"
#include "rest/json/reply_texts.h"
#include "base/diagnostics.h"
#include "base/settings.h"

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
  std::optional<item_path> old_path =
      checked_item_path(path_action::rename, request.rest, request.session, reply);
  if (!old_path) return path_refusal_status;

  const std::vector<std::string> new_segments =
      split(request.env.value("QS_NEWNAME"), "/");
  if (!same_directory(request.rest, new_segments)) {
    debug_line(1, "rename does not allow item to be moved to different file");
    return make_error_reply(
        reply, 400, "",
        "'move' is not supported for 'rename' (new and old directory must be the same).");
  }
  // As many segments as the old path, which resolved, so this resolves too.
  const std::optional<item_path> new_path = resolve_item_path(new_segments, request.session);
  if (!new_path) return make_error_reply(reply, 500, "", "Unexpected exception");

  velquor_base& host = request.host;
  // Held from the read to the delete: no change of either id can land in between.
  const auto held = request.locks.lock_pair(request.session.account_name, old_path->file,
                                            old_path->item, new_path->item);
  const text content = host.read_item(old_path->file, old_path->item, unused_item_option,
                                      unused_item_option, unused_item_option, unused_item_flag);
  // Renaming onto the same id only confirms that the item exists; the copy and delete sequence
  // would remove it on a host that lets create_item succeed on an existing item.
  if (new_path->item != old_path->item) {
    if (host_version == 71) {
      host.create_item(new_path->file, new_path->item, text{});
      host.write_item(new_path->file, new_path->item, content, unused_item_option,
                      unused_item_option, unused_item_option, unused_item_option);
    } else {
      host.create_item(new_path->file, new_path->item, content);
    }
    host.delete_item(old_path->file, old_path->item);
  }
  reply.clear();
  return 200;
}

}  // namespace ombrix
