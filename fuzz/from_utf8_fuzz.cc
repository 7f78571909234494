// Feeds arbitrary bytes to the UTF-8 decoders and arbitrary 16-bit units to the encoder.
// Checks: decoded text survives to_utf8 then from_utf8; the lenient decoder agrees with the
// strict one on valid input; any units survive to_utf8 then from_utf8.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "host/text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);

  const ombrix::text lenient = ombrix::from_utf8_lenient(bytes);
  bool valid = true;
  ombrix::text strict;
  try {
    strict = ombrix::from_utf8(bytes);
  } catch (const std::range_error& e) {
    if (std::strcmp(e.what(), "bad conversion") != 0) std::abort();
    valid = false;
  }
  if (valid) {
    if (lenient != strict) std::abort();
    if (ombrix::from_utf8(ombrix::to_utf8(strict)) != strict) std::abort();
  } else if (lenient.find(u'\xFFFD') == ombrix::text::npos) {
    std::abort();
  }

  ombrix::text units(size / 2, u'\0');
  std::memcpy(units.data(), data, units.size() * 2);
  if (ombrix::from_utf8(ombrix::to_utf8(units)) != units) std::abort();
  return 0;
}
