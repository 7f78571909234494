// Access tokens: the fixed header, URL-safe Base64, and the session id a token names.
// Pure functions; thread-safe.
//
// A token is the header, ".", then the URL-safe Base64 of {"sid":"<id>"}; it is not signed.
// Clients send it as "Bearer <token>" in the Authorization header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ombrix {

// Standard Base64 (with its padding) of the unsecured token header {"alg":"none","typ":"JWT"}.
inline constexpr std::string_view token_header = "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=";

// What every Authorization value of a token starts with: "Bearer", one blank, header, ".".
inline constexpr std::string_view token_prefix =
    "Bearer eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.";

static_assert(token_header.size() == 36);
static_assert(token_prefix.size() == 44);
static_assert(token_prefix.substr(7, 36) == token_header);

// Encodes `bytes` in URL-safe Base64 with "=" padding. Produces the empty text when `capacity`
// is less than the encoded length ((n - 1) / 3 * 4 + 4 for n bytes).
std::string base64url_encode(std::string_view bytes, std::size_t capacity);

// Decodes URL-safe Base64, skipping every character outside its alphabet (padding, blanks,
// "+", "/"); a final lone 6-bit value yields nothing. Produces the empty text when `capacity`
// is less than ((n - 1) / 4 + 1) * 3 for n characters.
std::string base64url_decode(std::string_view text, std::size_t capacity);

// The bytes the payload after the 44-byte prefix decodes to; empty when the value is not longer
// than the prefix. Does not look at the prefix itself.
std::string decode_token_payload(std::string_view authorization);

// The session id an Authorization value names, or the empty text when the value is not the exact
// prefix followed by a payload that decodes to a complete JSON object with a string "sid".
std::string session_id_from_authorization(std::string_view authorization);

// The session id of a login on `connection`: lower-case hexadecimal, no prefix, no leading zeros.
std::string session_id_for_connection(std::int32_t connection);

// The access token (without "Bearer ") that names `session_id`.
std::string make_access_token(std::string_view session_id);

}  // namespace ombrix
