#include "host/embedded/item_codec.h"

#include <bit>
#include <cstring>

namespace ombrix {
namespace {

constexpr bool is_high_surrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
constexpr bool is_low_surrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

}  // namespace

std::string encode_name(std::u16string_view name) {
  std::string out;
  out.reserve(name.size() + name.size() / 2);
  for (std::size_t i = 0; i < name.size(); ++i) {
    const std::uint32_t unit = name[i];
    if (unit < 0x80) {
      out.push_back(static_cast<char>(unit));
    } else if (unit < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (unit >> 6)));
      out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    } else if (is_high_surrogate(name[i]) && i + 1 < name.size() &&
               is_low_surrogate(name[i + 1])) {
      const std::uint32_t value = 0x10000 + ((unit - 0xD800) << 10) + (name[i + 1] - 0xDC00u);
      ++i;
      out.push_back(static_cast<char>(0xF0 | (value >> 18)));
      out.push_back(static_cast<char>(0x80 | ((value >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((value >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (value & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xE0 | (unit >> 12)));
      out.push_back(static_cast<char>(0x80 | ((unit >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (unit & 0x3F)));
    }
  }
  return out;
}

text decode_name(std::string_view bytes) {
  text out;
  append_decoded_name(out, bytes);
  return out;
}

void append_decoded_name(text& out, std::string_view bytes) {
  out.reserve(out.size() + bytes.size());
  std::size_t i = 0;
  const auto byte = [&](std::size_t at) { return static_cast<std::uint8_t>(bytes[at]); };
  const auto continuation = [&](std::size_t at) {
    return at < bytes.size() && (byte(at) & 0xC0) == 0x80;
  };
  while (i < bytes.size()) {
    const std::uint8_t lead = byte(i);
    if (lead < 0x80) {
      out.push_back(lead);
      i += 1;
    } else if (lead >= 0xC0 && lead < 0xE0 && continuation(i + 1)) {
      out.push_back(static_cast<char16_t>(((lead & 0x1F) << 6) | (byte(i + 1) & 0x3F)));
      i += 2;
    } else if (lead >= 0xE0 && lead < 0xF0 && continuation(i + 1) && continuation(i + 2)) {
      out.push_back(static_cast<char16_t>(((lead & 0x0F) << 12) | ((byte(i + 1) & 0x3F) << 6) |
                                          (byte(i + 2) & 0x3F)));
      i += 3;
    } else if (lead >= 0xF0 && lead < 0xF5 && continuation(i + 1) && continuation(i + 2) &&
               continuation(i + 3)) {
      const std::uint32_t value = ((lead & 0x07u) << 18) | ((byte(i + 1) & 0x3Fu) << 12) |
                                  ((byte(i + 2) & 0x3Fu) << 6) | (byte(i + 3) & 0x3Fu);
      if (value >= 0x10000 && value <= 0x10FFFF) {
        out.push_back(static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF)));
      } else {
        out.push_back(u'\xFFFD');
      }
      i += 4;
    } else {
      out.push_back(u'\xFFFD');
      i += 1;
    }
  }
}

std::string_view content_bytes(std::u16string_view content, std::string& scratch) {
  if constexpr (std::endian::native == std::endian::little) {
    return {reinterpret_cast<const char*>(content.data()), content.size() * 2};
  } else {
    scratch = encode_content(content);
    return scratch;
  }
}

std::string encode_content(std::u16string_view content) {
  std::string out(content.size() * 2, '\0');
  if constexpr (std::endian::native == std::endian::little) {
    if (!content.empty()) std::memcpy(out.data(), content.data(), out.size());
  } else {
    for (std::size_t i = 0; i < content.size(); ++i) {
      out[2 * i] = static_cast<char>(content[i] & 0xFF);
      out[2 * i + 1] = static_cast<char>(content[i] >> 8);
    }
  }
  return out;
}

text decode_content(std::string_view bytes) {
  text out(bytes.size() / 2, u'\0');
  if constexpr (std::endian::native == std::endian::little) {
    if (!out.empty()) std::memcpy(out.data(), bytes.data(), out.size() * 2);
  } else {
    for (std::size_t i = 0; i < out.size(); ++i) {
      out[i] = static_cast<char16_t>(static_cast<std::uint8_t>(bytes[2 * i]) |
                                     (static_cast<std::uint8_t>(bytes[2 * i + 1]) << 8));
    }
  }
  return out;
}

std::int64_t utf8_size(std::u16string_view content) {
  std::int64_t size = 0;
  for (std::size_t i = 0; i < content.size(); ++i) {
    const char16_t unit = content[i];
    if (unit < 0x80) {
      size += 1;
    } else if (unit < 0x800) {
      size += 2;
    } else if (is_high_surrogate(unit) && i + 1 < content.size() &&
               is_low_surrogate(content[i + 1])) {
      size += 4;
      ++i;
    } else {
      size += 3;
    }
  }
  return size;
}

bool is_valid_host_name(std::u16string_view name) {
  if (name.empty()) return false;
  for (char16_t unit : name) {
    if (unit == u'\r' || unit == u'\n' || is_mark(unit)) return false;
  }
  return true;
}

bool is_valid_new_file_name(std::u16string_view name) {
  if (!is_valid_host_name(name) || name.size() > 255) return false;
  if (name.starts_with(u"DICT ")) return false;
  for (char16_t unit : name) {
    if (unit < 0x20 || unit == 0x7F || unit == u',' || unit == u'/' || unit == u'*') return false;
  }
  return true;
}

void append_decimal(text& out, std::int64_t value) {
  char digits[24];
  int length = 0;
  const bool negative = value < 0;
  std::uint64_t magnitude = negative ? 0 - static_cast<std::uint64_t>(value)
                                     : static_cast<std::uint64_t>(value);
  do {
    digits[length++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (negative) out.push_back(u'-');
  while (length > 0) out.push_back(static_cast<char16_t>(digits[--length]));
}

void append_listing_entry(text& out, std::string_view name_key, int attributes, std::int64_t size) {
  if (!out.empty()) out.push_back(value_mark);
  append_decoded_name(out, name_key);
  out.push_back(subvalue_mark);
  append_decimal(out, attributes);
  out.push_back(subvalue_mark);
  append_decimal(out, size);
}

text listing_text(const text& file, const text& entries) {
  text out;
  out.reserve(file.size() + 2 + entries.size());
  out += file;
  out += u"\r\n";
  out += entries;
  return out;
}

file_name_parts split_file_name(const text& file) {
  if (file.starts_with(u"DICT ")) return {file.substr(5), text()};
  if (const auto comma = file.find(u','); comma != text::npos) {
    return {file.substr(0, comma), file.substr(comma + 1)};
  }
  return {file, text()};
}

text stat_text(int attributes, std::int64_t size) {
  text out;
  append_decimal(out, attributes);
  out += u"\r\n";
  append_decimal(out, size);
  return out;
}

std::size_t listing_limit(std::int32_t max_count) {
  return max_count > 0 ? static_cast<std::size_t>(max_count) : static_cast<std::size_t>(-1);
}

}  // namespace ombrix
