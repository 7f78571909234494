#include "rest/access_token.h"

#include <array>
#include <cstdio>

#include "json/json_object.h"
#include "json/json_writer.h"

namespace ombrix {

namespace {

constexpr std::string_view url_alphabet =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";

constexpr int not_in_alphabet = -1;

constexpr std::array<int, 256> make_decode_table() {
  std::array<int, 256> table{};
  for (int& entry : table) entry = not_in_alphabet;
  for (std::size_t i = 0; i < url_alphabet.size(); ++i) {
    table[static_cast<unsigned char>(url_alphabet[i])] = static_cast<int>(i);
  }
  return table;
}

constexpr std::array<int, 256> decode_table = make_decode_table();

// The capacity rules divide n - 1 with truncation toward zero, so an empty input still asks
// for one group: signed arithmetic keeps that exact.
std::int64_t encode_need(std::size_t n) {
  return (static_cast<std::int64_t>(n) - 1) / 3 * 4 + 4;
}
std::int64_t decode_need(std::size_t n) {
  return ((static_cast<std::int64_t>(n) - 1) / 4 + 1) * 3;
}

}  // namespace

std::string base64url_encode(std::string_view bytes, std::size_t capacity) {
  std::string encoded;
  if (static_cast<std::int64_t>(capacity) < encode_need(bytes.size())) return encoded;
  encoded.reserve(static_cast<std::size_t>(encode_need(bytes.size())));
  std::size_t i = 0;
  for (; i + 3 <= bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                          static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                          static_cast<unsigned char>(bytes[i + 2]);
    encoded.push_back(url_alphabet[group >> 18 & 63]);
    encoded.push_back(url_alphabet[group >> 12 & 63]);
    encoded.push_back(url_alphabet[group >> 6 & 63]);
    encoded.push_back(url_alphabet[group & 63]);
  }
  std::size_t left = bytes.size() - i;
  if (left == 1) {
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    encoded.push_back(url_alphabet[group >> 18 & 63]);
    encoded.push_back(url_alphabet[group >> 12 & 63]);
    encoded.append("==");
  } else if (left == 2) {
    std::uint32_t group = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                          static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    encoded.push_back(url_alphabet[group >> 18 & 63]);
    encoded.push_back(url_alphabet[group >> 12 & 63]);
    encoded.push_back(url_alphabet[group >> 6 & 63]);
    encoded.push_back('=');
  }
  return encoded;
}

std::string base64url_decode(std::string_view text, std::size_t capacity) {
  std::string decoded;
  if (static_cast<std::int64_t>(capacity) < decode_need(text.size())) return decoded;
  std::uint32_t group = 0;
  int values = 0;
  for (char c : text) {
    int value = decode_table[static_cast<unsigned char>(c)];
    if (value == not_in_alphabet) continue;  // padding, blanks and foreign characters
    group = group << 6 | static_cast<std::uint32_t>(value);
    if (++values == 4) {
      decoded.push_back(static_cast<char>(group >> 16 & 0xFF));
      decoded.push_back(static_cast<char>(group >> 8 & 0xFF));
      decoded.push_back(static_cast<char>(group & 0xFF));
      group = 0;
      values = 0;
    }
  }
  // Two values carry one byte, three carry two; a lone value carries less than a byte.
  if (values == 2) {
    decoded.push_back(static_cast<char>(group >> 4 & 0xFF));
  } else if (values == 3) {
    decoded.push_back(static_cast<char>(group >> 10 & 0xFF));
    decoded.push_back(static_cast<char>(group >> 2 & 0xFF));
  }
  return decoded;
}

std::string decode_token_payload(std::string_view authorization) {
  if (authorization.size() <= token_prefix.size()) return {};
  std::string_view payload = authorization.substr(token_prefix.size());
  return base64url_decode(payload, payload.size());
}

std::string session_id_from_authorization(std::string_view authorization) {
  if (authorization.size() <= token_prefix.size() ||
      authorization.substr(0, token_prefix.size()) != token_prefix) {
    return {};
  }
  std::string payload = decode_token_payload(authorization);
  json_members members;
  constexpr std::uint32_t object_complete = 2;
  constexpr std::uint32_t kind_string = 10;
  if (parse_json_object(payload.data(), static_cast<std::uint32_t>(payload.size()), members) !=
      object_complete) {
    return {};
  }
  auto sid = members.find("sid");
  if (sid == members.end() || sid->second.kind != kind_string) return {};
  return sid->second.text;
}

std::string session_id_for_connection(std::int32_t connection) {
  char digits[9];
  int length = std::snprintf(digits, sizeof digits, "%x", static_cast<unsigned>(connection));
  return std::string(digits, static_cast<std::size_t>(length));
}

std::string make_access_token(std::string_view session_id) {
  json_writer payload;
  payload.begin_object();
  payload.key("sid");
  payload.string(session_id);
  payload.end_object();
  std::string_view json = payload.view();
  std::string token(token_header);
  token.push_back('.');
  token.append(base64url_encode(json, json.size() * 2));
  return token;
}

}  // namespace ombrix
