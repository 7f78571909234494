#include "json/reply_texts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ombrix {
namespace {

constexpr char header[] = "Content-Type:application/json\r\n\r\n";

struct error_case {
  int status;
  std::string code;
  std::string message;
  std::string expected_json;
};

TEST(ReplyTextsTest, ErrorReplyIsTheHeaderAndTheCompactObject) {
  const std::vector<error_case> cases = {
      {401, "", "Unauthorized", R"({"status":401,"message":"Unauthorized","code":""})"},
      {404, "202", "Item \"A1\" not found\r\nin file",
       R"({"status":404,"message":"Item \"A1\" not found\r\nin file","code":"202"})"},
      {500, "", "Caf\xC3\xA9\x01",
       "{\"status\":500,\"message\":\"Caf\xC3\xA9\\u0001\",\"code\":\"\"}"},
  };
  for (const auto& c : cases) {
    std::string reply = "left over from an earlier step";
    EXPECT_EQ(make_error_reply(reply, c.status, c.code, c.message), c.status);
    EXPECT_EQ(reply, header + c.expected_json);
    EXPECT_EQ(error_reply_json(c.status, c.message, c.code), c.expected_json);
  }
}

TEST(ReplyTextsTest, NumericCodeIsWrittenAsDecimalText) {
  std::string reply;
  EXPECT_EQ(make_error_reply(reply, 404, std::int64_t{201}, "File not found"), 404);
  EXPECT_EQ(reply, std::string(header) +
                       R"({"status":404,"message":"File not found","code":"201"})");
  EXPECT_EQ(make_error_reply(reply, 500, -7, "x"), 500);
  EXPECT_EQ(reply, std::string(header) + R"({"status":500,"message":"x","code":"-7"})");
}

// The error replies above end at the closing brace; a JSON reply adds CR LF.
TEST(ReplyTextsTest, JsonReplyEndsWithCrLf) {
  EXPECT_EQ(json_reply(R"({"a":1})"), std::string(header) + "{\"a\":1}\r\n");
  EXPECT_EQ(json_reply(""), std::string(header) + "\r\n");
}

}  // namespace
}  // namespace ombrix
