#include "json/reply_texts.h"

#include <gtest/gtest.h>

#include <string>

namespace ombrix {
namespace {

const std::string header = "Content-Type:application/json\r\n\r\n";

// An error reply is the header and the compact object, ending at its brace; a JSON reply adds
// CR LF.
TEST(ReplyTextsTest, ErrorAndJsonReplies) {
  const struct { int status; std::string code, message, expected_json; } cases[] = {
      {404, "202", "Item \"A1\" not found\r\nin file",
       R"({"status":404,"message":"Item \"A1\" not found\r\nin file","code":"202"})"},
      {500, "", "Caf\xC3\xA9\x01", "{\"status\":500,\"message\":\"Caf\xC3\xA9\\u0001\",\"code\":\"\"}"},
  };
  for (const auto& c : cases) {
    std::string reply = "left over from an earlier step";
    EXPECT_EQ(make_error_reply(reply, c.status, c.code, c.message), c.status);
    EXPECT_EQ(reply, header + c.expected_json);
    EXPECT_EQ(error_reply_json(c.status, c.message, c.code), c.expected_json);
  }
  std::string reply;
  EXPECT_EQ(make_error_reply(reply, 500, -7, "x"), 500);  // a numeric code
  EXPECT_EQ(reply, header + R"({"status":500,"message":"x","code":"-7"})");
  EXPECT_EQ(json_reply(R"({"a":1})"), header + "{\"a\":1}\r\n");
}

}  // namespace
}  // namespace ombrix
