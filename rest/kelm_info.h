// The session record: filled once at login, never changed afterwards, shared by the session
// table and the requests that use it (read without locking).
#pragma once

#include <string>

namespace ombrix {

struct kelm_info {
  std::string server_text;   // what the host factory is given on every request
  std::string account_name;  // accepted as the first path segment
  std::string md_name;       // master dictionary: accepted as the first segment, file of root paths
};

}  // namespace ombrix
