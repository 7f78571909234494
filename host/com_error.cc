#include "host/com_error.h"

#include <cstdint>

namespace ombrix {

void issue_com_error(hresult code) { throw _com_error(code); }

std::string hresult_hex(hresult code) {
  static constexpr char digits[] = "0123456789abcdef";
  auto value = static_cast<std::uint32_t>(code);
  char buffer[8];
  int start = 8;
  do {
    buffer[--start] = digits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  return std::string(buffer + start, buffer + 8);
}

std::string create_failure_line(const _com_error& error) {
  std::string line = "Failed to create instance of Velquorr.Server [0x";
  line += hresult_hex(error.Error());
  line += ' ';
  line += to_default_codepage(error.Description());
  line += ']';
  return line;
}

std::string connect_failure_line(std::string_view server, const _com_error& error) {
  std::string line = "Failed to connect to server '";
  line += server;
  line += "' [0x";
  line += hresult_hex(error.Error());
  line += ' ';
  line += to_default_codepage(error.Description());
  line += ']';
  return line;
}

std::string com_error_line(const _com_error& error) {
  std::string line = "COM error: ";
  line += to_default_codepage(error.Description());
  line += " [0x";
  line += hresult_hex(error.Error());
  line += ']';
  return line;
}

}  // namespace ombrix
