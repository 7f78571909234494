#include "rest/access_token.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>

namespace ombrix {
namespace {

TEST(token_header_test, IsTheBase64OfTheUnsecuredHeader) {
  // {"alg":"none","typ":"JWT"}: 26 bytes, so one "=".
  EXPECT_EQ(token_header, "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=");
  EXPECT_EQ(token_prefix, "Bearer " + std::string(token_header) + ".");
  EXPECT_EQ(base64url_decode(token_header, 36), R"({"alg":"none","typ":"JWT"})");
}

struct connection_case {
  std::int32_t connection;
  std::string session_id;
};

TEST(session_id_test, IsLowerCaseHexWithoutLeadingZeros) {
  const connection_case cases[] = {{1, "1"},      {10, "a"},       {26, "1a"},
                                   {255, "ff"},   {4096, "1000"},  {0x7fffffff, "7fffffff"}};
  for (const connection_case& c : cases) {
    EXPECT_EQ(session_id_for_connection(c.connection), c.session_id) << c.connection;
  }
}

TEST(make_access_token_test, NamesTheSessionInAnUnsignedTwoSegmentToken) {
  // {"sid":"1a"} in URL-safe Base64: 12 bytes, so no padding.
  EXPECT_EQ(make_access_token(session_id_for_connection(26)),
            "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxYSJ9");
  // {"sid":"1"} is 11 bytes: one "=", {"sid":"100"} is 13 bytes: two.
  EXPECT_EQ(make_access_token("1"), "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxIn0=");
  EXPECT_EQ(make_access_token("100"),
            "eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxMDAifQ==");
}

struct encode_case {
  std::string bytes;
  std::size_t capacity;
  std::string encoded;
};

// Failures name the input, not the bytes of the structure.
void PrintTo(const encode_case& c, std::ostream* out) {
  *out << ::testing::PrintToString(c.bytes) << ", capacity " << c.capacity;
}

class base64url_encode_test : public ::testing::TestWithParam<encode_case> {};

TEST_P(base64url_encode_test, EncodesOrRefuses) {
  const encode_case& c = GetParam();
  EXPECT_EQ(base64url_encode(c.bytes, c.capacity), c.encoded);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, base64url_encode_test,
    ::testing::Values(encode_case{"f", 4, "Zg=="}, encode_case{"fo", 4, "Zm8="},
                      encode_case{"foo", 4, "Zm9v"}, encode_case{"foob", 8, "Zm9vYg=="},
                      encode_case{"fooba", 8, "Zm9vYmE="}, encode_case{"foobar", 8, "Zm9vYmFy"},
                      // The two characters outside the standard alphabet.
                      encode_case{"\xFB\xFF", 4, "-_8="},
                      encode_case{std::string("\0\0\0", 3), 4, "AAAA"},
                      // Capacity below ((n - 1) / 3) * 4 + 4 produces nothing.
                      encode_case{"f", 3, ""}, encode_case{"foob", 7, ""},
                      encode_case{"foo", 100, "Zm9v"}));

struct decode_case {
  std::string text;
  std::size_t capacity;
  std::string decoded;
};

void PrintTo(const decode_case& c, std::ostream* out) {
  *out << ::testing::PrintToString(c.text) << ", capacity " << c.capacity;
}

class base64url_decode_test : public ::testing::TestWithParam<decode_case> {};

TEST_P(base64url_decode_test, DecodesOrRefuses) {
  const decode_case& c = GetParam();
  EXPECT_EQ(base64url_decode(c.text, c.capacity), c.decoded);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, base64url_decode_test,
    ::testing::Values(
        decode_case{"Zm9v", 4, "foo"}, decode_case{"Zg==", 4, "f"}, decode_case{"Zm8=", 4, "fo"},
        decode_case{"Zm9vYmFy", 8, "foobar"}, decode_case{"-_8=", 4, "\xFB\xFF"},
        // With capacity equal to the length, inputs of 1, 2 and 5 characters are refused.
        decode_case{"Z", 1, ""}, decode_case{"Zg", 2, ""}, decode_case{"Zm9vY", 5, ""},
        decode_case{"Zg", 3, "f"}, decode_case{"Zm8", 3, "fo"}, decode_case{"Zm9vYg", 6, "foob"},
        // A single leftover 6-bit value yields nothing.
        decode_case{"Zm9vY", 6, "foo"},
        // Characters outside the alphabet are skipped, standard "+" and "/" included.
        decode_case{"Z m 9 v", 7, "foo"}, decode_case{"Zm9v\r\nYmFy", 10, "foobar"},
        decode_case{"Zm+9/v", 6, "foo"}, decode_case{"Zg=", 3, "f"},
        decode_case{"====", 4, ""}, decode_case{"", 0, ""}, decode_case{"", 3, ""}));

TEST(base64url_round_trip_test, EveryByteValueSurvives) {
  std::string bytes;
  for (int value = 0; value < 256; ++value) bytes.push_back(static_cast<char>(value));
  for (std::size_t length = 1; length <= bytes.size(); length += 37) {
    std::string part = bytes.substr(256 - length);
    std::string encoded = base64url_encode(part, 2 * part.size() + 4);
    EXPECT_EQ(encoded.size(), (part.size() + 2) / 3 * 4);
    EXPECT_EQ(encoded.find_first_of("+/"), std::string::npos);
    EXPECT_EQ(base64url_decode(encoded, encoded.size()), part) << "length " << length;
  }
}

TEST(decode_token_payload_test, DecodesWhatFollowsTheFortyFourBytePrefix) {
  const std::string prefix(token_prefix);
  EXPECT_EQ(decode_token_payload(""), "");
  EXPECT_EQ(decode_token_payload(prefix), "");
  EXPECT_EQ(decode_token_payload(prefix + "eyJzaWQiOiIxYSJ9"), R"({"sid":"1a"})");
  // The prefix is the caller's check, not this function's.
  EXPECT_EQ(decode_token_payload(std::string(44, 'x') + "Zm9v"), "foo");
  // One character after the prefix is refused by the capacity rule.
  EXPECT_EQ(decode_token_payload(prefix + "Z"), "");
}

struct authorization_case {
  std::string name;
  std::string value;
  std::string session_id;
};

void PrintTo(const authorization_case& c, std::ostream* out) { *out << c.name; }

class session_id_from_authorization_test
    : public ::testing::TestWithParam<authorization_case> {};

TEST_P(session_id_from_authorization_test, ReadsTheSessionId) {
  EXPECT_EQ(session_id_from_authorization(GetParam().value), GetParam().session_id);
}

const std::string bearer = "Bearer eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.";

INSTANTIATE_TEST_SUITE_P(
    Values, session_id_from_authorization_test,
    ::testing::Values(
        authorization_case{"Exact", bearer + "eyJzaWQiOiIxYSJ9", "1a"},
        authorization_case{"WithPadding", bearer + "eyJzaWQiOiIxIn0=", "1"},
        authorization_case{"PaddingRemoved", bearer + "eyJzaWQiOiIxIn0", "1"},
        authorization_case{"TwoPadsRemoved", bearer + "eyJzaWQiOiIxMDAifQ", "100"},
        authorization_case{"BlanksInserted", bearer + "eyJz aWQi OiIx YSJ9", "1a"},
        authorization_case{"LineBreakInserted", bearer + "eyJzaWQi\r\nOiIxYSJ9", "1a"},
        authorization_case{"OtherMembersIgnored",
                           bearer + "eyJ4IjpbMSx7InNpZCI6IjIifV0sInNpZCI6IjFhIn0=", "1a"},
        authorization_case{"LowerCaseBearer",
                           "bearer eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxYSJ9", ""},
        authorization_case{"TwoBlanks",
                           "Bearer  eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0=.eyJzaWQiOiIxYSJ9", ""},
        authorization_case{"HeaderWithoutPadding",
                           "Bearer eyJhbGciOiJub25lIiwidHlwIjoiSldUIn0.eyJzaWQiOiIxYSJ9", ""},
        authorization_case{"PrefixOnly", bearer, ""},
        authorization_case{"Empty", "", ""},
        authorization_case{"PayloadNotJson", bearer + "bm90IGpzb24=", ""},
        authorization_case{"NumericSid", bearer + "eyJzaWQiOjI2fQ==", ""},
        authorization_case{"NoSid", bearer + "eyJpZCI6IjFhIn0=", ""},
        authorization_case{"IncompleteObject", bearer + "eyJzaWQiOiIxYSI=", ""},
        authorization_case{"EmptySid", bearer + "eyJzaWQiOiIifQ==", ""},
        authorization_case{"TooShortPayload", bearer + "ey", ""}),
    [](const ::testing::TestParamInfo<authorization_case>& info) { return info.param.name; });

TEST(session_id_from_authorization_test, ReadsBackEveryTokenItMakes) {
  for (std::int32_t connection : {1, 15, 16, 26, 255, 256, 4095, 65536, 1048576, 0x7fffffff}) {
    const std::string id = session_id_for_connection(connection);
    EXPECT_EQ(session_id_from_authorization("Bearer " + make_access_token(id)), id);
  }
}

}  // namespace
}  // namespace ombrix
