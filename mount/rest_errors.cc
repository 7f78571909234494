#include "mount/rest_errors.h"

#include <cerrno>

#include "host/host_errors.h"

namespace ombrix::mount {

int errno_for_reply(int status, std::string_view code) {
  if (status == 0) return EIO;
  if (status >= 200 && status < 300) return 0;
  if (status == 401) return EACCES;
  if (status == 412) return ESTALE;  // the item changed since it was read (or now exists)
  if (code == host_error_text(host_error::item_not_found) ||
      code == host_error_text(host_error::file_not_found) ||
      code == host_error_text(host_error::invalid_name)) {
    return ENOENT;
  }
  if (code == host_error_text(host_error::item_exists)) return EEXIST;
  if (code == host_error_text(host_error::account_not_found)) return EINVAL;
  if (status == 400) return EINVAL;
  if (status == 404) return ENOENT;
  return EIO;
}

std::string_view code_of_reply(std::string_view body) {
  constexpr std::string_view key = "\"code\":\"";
  const std::size_t at = body.find(key);
  if (at == std::string_view::npos) return {};
  const std::size_t start = at + key.size();
  const std::size_t end = body.find('"', start);
  if (end == std::string_view::npos) return {};
  return body.substr(start, end - start);
}

}  // namespace ombrix::mount
