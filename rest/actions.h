// The file-system actions of the REST service. Each returns the HTTP status and fills `reply`
// (an error reply, a json_reply, or nothing for the empty reply). Host failures and conversion
// failures are thrown and answered by the dispatcher.
#pragma once

#include <string>

#include "rest/action_request.h"

namespace ombrix {

int read_item_action(const action_request& request, std::string& reply);     // GET file
int update_item_action(const action_request& request, std::string& reply);   // PUT file
int create_item_action(const action_request& request, std::string& reply);   // POST create
int delete_item_action(const action_request& request, std::string& reply);   // DELETE file
int list_directory_action(const action_request& request, std::string& reply);  // GET dir
int stat_action(const action_request& request, std::string& reply);          // GET stat
int rename_action(const action_request& request, std::string& reply);        // GET rename
int command_action(const action_request& request, std::string& reply);       // POST cmd
int call_action(const action_request& request, std::string& reply);          // POST call
int touch_item_action(const action_request& request, std::string& reply);    // POST touch

}  // namespace ombrix
