// Conditional item requests: the entity-tag headers If-Match and If-None-Match, the opt-ins a
// client uses to learn tags, and the ETag header line of the replies that carry one. A request
// without any of them is answered exactly as before. Pure functions; thread-safe.
//
//   If-Match: "t1", "t2"   the item must exist with one of these tags (strong comparison)
//   If-Match: *            the item must exist
//   If-None-Match: "t1"    the item must not have this tag (weak comparison: W/"t1" too)
//   If-None-Match: *       the item must not exist (create only)
//
// A request that carries either header, or the query parameter etag (any value), is answered
// with the line ETag: "<tag>" after the Content-Type line whenever an item is read or stored.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "host/item_tag.h"
#include "rest/environment.h"

namespace ombrix {

// The status of a change or read whose condition does not hold.
inline constexpr int precondition_failed = 412;

// The condition of the request's If-Match and If-None-Match headers, or nothing when a header
// is malformed (not "*" and not a comma-separated list of quoted tags).
std::optional<item_condition> request_condition(const environment& env);

// True when the reply should carry the item's ETag line.
bool wants_item_tag(const environment& env);

// Inserts the line ETag: "<tag>" after the first line of a reply text; an empty reply becomes
// a Content-Type line, the ETag line and the empty line (no body).
void add_tag_line(std::string& reply, std::string_view tag);

// The error reply of a condition that does not hold (412, empty code).
int refuse_precondition(std::string& reply);

}  // namespace ombrix
