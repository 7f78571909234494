#include "rest/access_token.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

namespace ombrix {
namespace {

const std::string bearer = "Bearer eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.";

TEST(access_token_test, Base64UrlEncodesAndDecodesWithinItsCapacity) {
  // Below ((n - 1) / 3) * 4 + 4 nothing is written.
  for (const auto& [bytes, capacity, encoded] : std::vector<std::tuple<std::string, std::size_t, std::string>>{
           {"f", 4, "Zg=="}, {"fo", 4, "Zm8="}, {"foobar", 8, "Zm9vYmFy"}, {"\xFB\xFF", 4, "-_8="},
           {"f", 3, ""}, {"foob", 7, ""}, {"foo", 100, "Zm9v"}}) {
    EXPECT_EQ(base64url_encode(bytes, capacity), encoded) << bytes;
  }
  // With capacity equal to the length, inputs of 1, 2 and 5 characters are refused; characters
  // outside the alphabet are skipped, standard "+" and "/" included.
  for (const auto& [text, capacity, decoded] : std::vector<std::tuple<std::string, std::size_t, std::string>>{
           {"Zm9v", 4, "foo"}, {"Zm8=", 4, "fo"}, {"-_8=", 4, "\xFB\xFF"}, {"Zg", 2, ""}, {"Zm9vY", 5, ""},
           {"Zg", 3, "f"}, {"Zm9v\r\nYmFy", 10, "foobar"}, {"Zm+9/v", 6, "foo"}, {"====", 4, ""}}) {
    EXPECT_EQ(base64url_decode(text, capacity), decoded) << text;
  }
  EXPECT_EQ(decode_token_payload(std::string(44, 'x') + "Zm9v"), "foo");  // the prefix is the caller's
  EXPECT_EQ(decode_token_payload(bearer + "Z"), "");
}

TEST(access_token_test, TokensNameTheSessionInLowerCaseHex) {
  EXPECT_EQ(token_prefix, bearer);
  EXPECT_EQ(base64url_decode(token_header, 36), R"({"alg":"none","typ":"JWT"})");
  EXPECT_EQ(session_id_for_connection(0x7fffffff), "7fffffff");
  // {"sid":"1a"} is 12 bytes: no padding; {"sid":"100"} is 13 bytes: two.
  EXPECT_EQ(make_access_token("1a"), bearer.substr(7) + "eyJzaWQiOiIxYSJ9");
  EXPECT_EQ(make_access_token("100"), bearer.substr(7) + "eyJzaWQiOiIxMDAifQ==");
  EXPECT_EQ(session_id_from_authorization("Bearer " + make_access_token(session_id_for_connection(4096))), "1000");
  const std::pair<std::string, std::string> cases[] = {
      {bearer + "eyJzaWQiOiIxIn0=", "1"},
      {bearer + "eyJzaWQiOiIxMDAifQ", "100"},  // padding removed
      {bearer + "eyJ4IjpbMSx7InNpZCI6IjIifV0sInNpZCI6IjFhIn0=", "1a"},  // other members ignored
      {"bearer eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxYSJ9", ""},
      {"Bearer eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0.eyJzaWQiOiIxYSJ9", ""},
      {bearer, ""}, {"", ""},
      {bearer + "bm90IGpzb24=", ""},      // not JSON
      {bearer + "eyJzaWQiOjI2fQ==", ""},  // a number
      {bearer + "eyJzaWQiOiIifQ==", ""},  // empty sid
  };
  for (const auto& [value, id] : cases) EXPECT_EQ(session_id_from_authorization(value), id) << value;
}

}  // namespace
}  // namespace ombrix
