// The cmd and call actions over real sockets, through the embedded host's ECHO and COPY built-ins.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

bool has_code(const http_response& response, int status, std::string_view code) {
  return response.status == status &&
         response.body.ends_with("\",\"code\":\"" + std::string(code) + "\"}");
}

class CmdCallTest : public server_test {
 protected:
  void SetUp() override {
    server_test::SetUp();
    client_ = std::make_unique<rest_client>(logged_in());
  }
  rest_client& client() { return *client_; }
  std::unique_ptr<rest_client> client_;
};

struct exact_case {
  const char* name;
  std::string target;  // after the service prefix
  std::string body;
  std::string json;    // the reply JSON
};

void PrintTo(const exact_case& c, std::ostream* out) { *out << c.name; }

class CmdEcho : public CmdCallTest, public ::testing::WithParamInterface<exact_case> {};

// ECHO answers "ECHO", CR LF and the parameter text, so the reply shows the four lines exactly:
// file, item id, the option names and their values (value marks between them).
TEST_P(CmdEcho, ShowsTheParameterText) {
  EXPECT_EQ(client().post(api + GetParam().target, GetParam().body).raw, json_response(GetParam().json));
}

INSTANTIATE_TEST_SUITE_P(
    Commands, CmdEcho,
    ::testing::Values(
        exact_case{"AllValueKindsInNameOrder", "cmd/ECHO/MAIN/CUSTOMERS/CUSTOMERS/C1",
                   R"({"b":true,"a":"x","n":5,"z":null,"r":3.14159265,"o":{"k":1}})",
                   R"({"message":"ECHO","output":["CUSTOMERS","C1",["a","b","n","r","z"],)"
                   R"(["x","1","5","3.14159"]]})"},
        exact_case{"SkippedLastMemberLeavesTrailingMark", "cmd/ECHO/MAIN/CUSTOMERS/CUSTOMERS/C1",
                   R"({"a":"x","b":[1],"c":-42,"d":false,"e":{"x":1}})",
                   R"({"message":"ECHO","output":["CUSTOMERS","C1",["a","c","d",""],["x","-42","0"]]})"},
        exact_case{"RealInGeneralNotation", "cmd/ECHO/MAIN/CUSTOMERS/CUSTOMERS/C1",
                   R"({"big":1.0e20,"half":0.5})",
                   R"({"message":"ECHO","output":["CUSTOMERS","C1",["big","half"],["1e+20","0.5"]]})"},
        exact_case{"EmptyBodyMasterDictionary", "cmd/ECHO/MAIN/C1", "",
                   R"({"message":"ECHO","output":["MD","C1",""]})"},
        exact_case{"RootIsNotChecked", "cmd/ECHO/ANYTHING/C1", "",
                   R"({"message":"ECHO","output":["MD","C1",""]})"},
        exact_case{"Dictionary", "cmd/ECHO/MAIN/CUSTOMERS/NAME", R"({"k":"v"})",
                   R"({"message":"ECHO","output":["DICT CUSTOMERS","NAME","k","v"]})"},
        exact_case{"SecondSection", "cmd/ECHO/MAIN/CUSTOMERS/HIST/H1", R"({"k":"v"})",
                   R"({"message":"ECHO","output":["CUSTOMERS,HIST","H1","k","v"]})"},
        exact_case{"Utf8Value", "cmd/ECHO/MAIN/CUSTOMERS/CUSTOMERS/C1",
                   "{\"name\":\"Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80\"}",
                   "{\"message\":\"ECHO\",\"output\":[\"CUSTOMERS\",\"C1\",\"name\",\"Gr\xC3\xBC\xC3\x9F"
                   "e \xF0\x9F\x98\x80\"]}"}),
    [](const ::testing::TestParamInfo<exact_case>& info) { return std::string(info.param.name); });

TEST_F(CmdCallTest, CmdPathRefusals) {
  const std::string command_missing = "Command is missing from URL path.";
  EXPECT_EQ(client().post(api + "cmd", "").raw, rest_error(400, command_missing));
  EXPECT_EQ(client().post(api + "cmd/ECHO", "").raw, rest_error(400, command_missing));
  const std::string bad_path = "File name or item ID missing from URL path.";
  EXPECT_EQ(client().post(api + "cmd/ECHO/MAIN", "").raw, rest_error(400, bad_path, "203"));
  EXPECT_EQ(client().post(api + "cmd/ECHO/MAIN/A/B/C/D", "").raw, rest_error(400, bad_path, "203"));
}

TEST_F(CmdCallTest, UnknownCommandIsAHostError) {
  http_response response = client().post(api + "cmd/NOSUCH/MAIN/CUSTOMERS/CUSTOMERS/C1", "");
  EXPECT_TRUE(has_code(response, 500, "205")) << response.raw;
}

TEST_F(CmdCallTest, CopyCopiesWithinTheFileAndRespectsOverwrite) {
  const std::string c1_read = client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C1").body;
  const std::string c1_data = c1_read.substr(c1_read.find(",\"data\":"));
  http_response copied = client().post(api + "cmd/COPY/MAIN/CUSTOMERS/CUSTOMERS/C1", R"({"to":"C1COPY"})");
  EXPECT_EQ(copied.status, 200) << copied.raw;
  EXPECT_TRUE(copied.body.starts_with(R"({"message":"1 item copied.","output":)")) << copied.raw;
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C1COPY").body,
            "{\"id\":\"C1COPY\",\"type\":\"array\"" + c1_data);

  const std::string c2_before = client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2").raw;
  http_response refused = client().post(api + "cmd/COPY/MAIN/CUSTOMERS/CUSTOMERS/C1", R"({"to":"C2"})");
  EXPECT_TRUE(has_code(refused, 500, "204")) << refused.raw;
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2").raw, c2_before);

  http_response overwritten =
      client().post(api + "cmd/COPY/MAIN/CUSTOMERS/CUSTOMERS/C1", R"({"to":"C2","overwrite":true})");
  EXPECT_EQ(overwritten.status, 200) << overwritten.raw;
  EXPECT_EQ(client().get(api + "file/MAIN/CUSTOMERS/CUSTOMERS/C2").body,
            "{\"id\":\"C2\",\"type\":\"array\"" + c1_data);

  http_response missing = client().post(api + "cmd/COPY/MAIN/CUSTOMERS/CUSTOMERS/NOPE", R"({"to":"C5"})");
  EXPECT_TRUE(has_code(missing, 404, "202")) << missing.raw;
}

class CallEcho : public CmdCallTest, public ::testing::WithParamInterface<exact_case> {};

// ECHO answers its second argument, the args array as item text.
TEST_P(CallEcho, AnswersTheArguments) {
  EXPECT_EQ(client().post(api + GetParam().target, GetParam().body).raw, json_response(GetParam().json));
}

INSTANTIATE_TEST_SUITE_P(
    Calls, CallEcho,
    ::testing::Values(
        exact_case{"NestedArgsGiveAnArray", "call/ECHO", R"({"args":["a",["b","c"],[["d","e"]]]})",
                   R"({"result":["a",["b","c"],[["d","e"]]]})"},
        exact_case{"OneStringGivesAString", "call/ECHO", R"({"args":["hello"]})", R"({"result":"hello"})"},
        exact_case{"TwoLinesGiveAnArray", "call/ECHO", R"({"args":["one","two"]})",
                   R"({"result":["one","two"]})"},
        exact_case{"NoArgs", "call/ECHO", "{}", R"({"result":""})"},
        exact_case{"OtherMembersIgnored", "call/ECHO", R"({"other":["x"]})", R"({"result":""})"},
        exact_case{"LaterSegmentsIgnored", "call/ECHO/more/segments", R"({"args":["x"]})",
                   R"({"result":"x"})"},
        exact_case{"Utf8AndEmoji", "call/ECHO", "{\"args\":[\"\xF0\x9F\x98\x80 \xC3\xA9\"]}",
                   "{\"result\":\"\xF0\x9F\x98\x80 \xC3\xA9\"}"}),
    [](const ::testing::TestParamInfo<exact_case>& info) { return std::string(info.param.name); });

TEST_F(CmdCallTest, CallRefusals) {
  EXPECT_EQ(client().post(api + "call", "{}").raw, rest_error(400, "Function is missing from URL path."));
  EXPECT_EQ(client().post(api + "call/ECHO", "").raw, rest_error(400, "Malformed JSON payload."));
  EXPECT_EQ(client().post(api + "call/ECHO", "[1]").raw, rest_error(400, "Malformed JSON payload."));
  EXPECT_EQ(client().post(api + "call/ECHO", R"({"args":"x"})").raw,
            rest_error(400, "'args' property must be a JSON array."));
  EXPECT_EQ(client().post(api + "call/ECHO", R"({"args":{"a":["x"]}})").raw,
            rest_error(400, "'args' property must be a JSON array."));
  EXPECT_EQ(client().post(api + "call/ECHO", R"({"args":[[[["x"]]]]})").raw,
            rest_error(400, "Malformed JSON array in 'args' property."));
  http_response unknown = client().post(api + "call/NOSUCH", "{}");
  EXPECT_TRUE(has_code(unknown, 500, "205")) << unknown.raw;
}

}  // namespace
}  // namespace ombrix::e2e
