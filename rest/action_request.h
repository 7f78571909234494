// What the dispatcher hands to an action: the request's own objects, valid for the call only.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/settings.h"

#include "host/velquor_base.h"
#include "rest/environment.h"
#include "rest/item_locks.h"
#include "rest/kelm_info.h"

namespace ombrix {

struct action_request {
  std::string action_name;        // the third path segment
  std::vector<std::string> rest;  // the decoded segments behind the action name
  const std::string& body;
  const environment& env;
  const kelm_info& session;       // REQUIRES: a found session (not for login and logout)
  velquor_base& host;             // the request's host object
  item_lock_table& locks;         // held around every change of an item
  const settings& config;         // the server's settings
  // Where a GET may hand back a reply the host keeps, instead of copying it (null: copy it).
  std::shared_ptr<const std::string>* kept_reply = nullptr;
};

}  // namespace ombrix
