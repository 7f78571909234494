// ombrix-admin of the Windows build: the host component installed there is the store.
#include "host/admin/admin_store.h"

namespace ombrix {

std::unique_ptr<admin_store> open_postgresql_store(const std::string&) {
  throw admin_store_error("PostgreSQL stores are not supported in this build.");
}

}  // namespace ombrix
