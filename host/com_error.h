// The error object that every host failure becomes. Thrown by value, caught by reference.
// Immutable after construction; copies are independent.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "host/text.h"

namespace ombrix {

using hresult = std::int32_t;

inline constexpr hresult e_notimpl = static_cast<hresult>(0x80004001);
inline constexpr hresult e_nointerface = static_cast<hresult>(0x80004002);
inline constexpr hresult e_pointer = static_cast<hresult>(0x80004003);
inline constexpr hresult e_fail = static_cast<hresult>(0x80004005);
inline constexpr hresult e_accessdenied = static_cast<hresult>(0x80070005);
inline constexpr hresult e_outofmemory = static_cast<hresult>(0x8007000E);

// Failures of the interface facility carry a host error number in their low 16 bits.
inline constexpr hresult host_error_code(int number) {
  return static_cast<hresult>(0x80040000u + static_cast<std::uint32_t>(number & 0xFFFF));
}

class _com_error {
 public:
  explicit _com_error(hresult code, text description = {})
      : code_(code), description_(std::move(description)) {}

  hresult Error() const noexcept { return code_; }
  // The host's description of the failure; empty when it gave none.
  const text& Description() const noexcept { return description_; }

 private:
  hresult code_;
  text description_;
};

// Raises _com_error with the code and no description.
[[noreturn]] void issue_com_error(hresult code);

// The code as diagnostic lines and reply codes write it: lower-case hexadecimal, no leading zeros.
std::string hresult_hex(hresult code);

// The diagnostic lines about host failures (no line end; the caller writes them). Codes appear
// as "[0x" hresult_hex; descriptions in the default code page, empty when the error has none.
//   Failed to create instance of Velquorr.Server [0x<code> <description>]
std::string create_failure_line(const _com_error& error);
//   Failed to connect to server '<server>' [0x<code> <description>]
std::string connect_failure_line(std::string_view server, const _com_error& error);
//   COM error: <description> [0x<code>]
std::string com_error_line(const _com_error& error);

}  // namespace ombrix
