// The executable's file version on Windows, read from its own version resource.
#include "platform/file_version.h"

#include <windows.h>

#include <memory>
#include <new>

namespace ombrix::platform {

std::optional<file_version> executable_file_version() {
  char path[260] = {};
  if (::GetModuleFileNameA(nullptr, path, sizeof path) == 0) return std::nullopt;
  DWORD ignored = 0;
  const DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return std::nullopt;
  std::unique_ptr<char[]> block(new (std::nothrow) char[size]);
  if (!block) return std::nullopt;
  if (!::GetFileVersionInfoA(path, 0, size, block.get())) return std::nullopt;
  void* value = nullptr;
  UINT length = 0;
  // The root block, a path of one backslash, holds the fixed file information.
  if (!::VerQueryValueA(block.get(), "\\", &value, &length) || length == 0) return std::nullopt;
  const auto* fixed = static_cast<const VS_FIXEDFILEINFO*>(value);
  if (fixed->dwSignature != 0xFEEF04BD) return std::nullopt;
  return file_version{fixed->dwFileVersionMS, fixed->dwFileVersionLS};
}

}  // namespace ombrix::platform
