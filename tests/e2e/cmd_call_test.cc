// The cmd and call actions over real sockets, through the embedded host's ECHO and COPY built-ins.
#include <gtest/gtest.h>

#include "tests/e2e/e2e_fixture.h"

namespace ombrix::e2e {
namespace {

using CmdCall = client_test;

// cmd ECHO answers "ECHO", CR LF and the parameter text, so the reply shows the four lines
// exactly: file, item id, the option names and their values (value marks between them).
// call ECHO answers its second argument, the args array as item text.
TEST_F(CmdCall, EchoShowsTheParameterTextAndTheArguments) {
  const std::string c1 = "cmd/ECHO/" + customers + "/C1";
  auto echo = [](std::string output) { return json_response(R"({"message":"ECHO","output":)" + output + "}"); };
  auto result = [](std::string value) { return json_response(R"({"result":)" + value + "}"); };
  expect_responses(client(), {
      {"POST", c1, R"({"b":true,"a":"x","n":5,"z":null,"r":3.14159265,"o":{"k":1}})",
       echo(R"(["CUSTOMERS","C1",["a","b","n","r","z"],["x","1","5","3.14159"]])")},
      {"POST", "cmd/ECHO/MAIN/C1", "", echo(R"(["MD","C1",""])")},
      {"POST", "cmd/ECHO/MAIN/CUSTOMERS/NAME", R"({"k":"v"})", echo(R"(["DICT CUSTOMERS","NAME","k","v"])")},
      {"POST", "cmd/ECHO/MAIN/CUSTOMERS/HIST/H1", R"({"k":"v"})", echo(R"(["CUSTOMERS,HIST","H1","k","v"])")},
      {"POST", c1, "{\"name\":\"Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80\"}",
       echo("[\"CUSTOMERS\",\"C1\",\"name\",\"Gr\xC3\xBC\xC3\x9F" "e \xF0\x9F\x98\x80\"]")},
      {"POST", "call/ECHO", R"({"args":["a",["b","c"],[["d","e"]]]})", result(R"(["a",["b","c"],[["d","e"]]])")},
      {"POST", "call/ECHO", R"({"args":["hello"]})", result(R"("hello")")},
      {"POST", "call/ECHO", "{}", result(R"("")")},
      {"POST", "call/ECHO", "{\"args\":[\"\xF0\x9F\x98\x80 \xC3\xA9\"]}", result("\"\xF0\x9F\x98\x80 \xC3\xA9\"")},
  });
}

TEST_F(CmdCall, RefusalsComeBeforeTheHost) {
  const std::string no_command = "Command is missing from URL path.";
  expect_responses(client(), {
      {"POST", "cmd", "", rest_error(400, no_command)},
      {"POST", "cmd/ECHO/MAIN", "", rest_error(400, bad_path, "203")},
      {"POST", "call", "{}", rest_error(400, "Function is missing from URL path.")},
  });
  EXPECT_TRUE(is_host_error(client().post(api + "cmd/NOSUCH/" + customers + "/C1", ""), 500, "205"));
  EXPECT_TRUE(is_host_error(client().post(api + "call/NOSUCH", "{}"), 500, "205"));
}

TEST_F(CmdCall, CopyCopiesWithinTheFileAndRespectsOverwrite) {
  const std::string copy = api + "cmd/COPY/" + customers + "/C1";
  http_response copied = client().post(copy, R"({"to":"C1COPY"})");
  EXPECT_EQ(copied.status, 200) << copied.raw;
  EXPECT_TRUE(copied.body.starts_with(R"({"message":"1 item copied.","output":)")) << copied.raw;
  EXPECT_EQ(client().get(api + "file/" + customers + "/C1COPY").raw, item_response("C1COPY", c1_data));

  EXPECT_TRUE(is_host_error(client().post(copy, R"({"to":"C2"})"), 500, "204"));
  EXPECT_EQ(client().get(api + "file/" + customers + "/C2").raw, item_response("C2", c2_data));
  EXPECT_EQ(client().post(copy, R"({"to":"C2","overwrite":true})").status, 200) << client().last().raw;
  EXPECT_EQ(client().get(api + "file/" + customers + "/C2").raw, item_response("C2", c1_data));
  EXPECT_TRUE(is_host_error(client().post(api + "cmd/COPY/" + customers + "/NOPE", R"({"to":"C5"})"), 404, "202"));
}

// A non-ASCII id crosses as the host expects it on each platform: as 16-bit text to the embedded
// host on Linux, as code-page units through ombrix-host.dll on Windows, which reads them back. The
// replies are the same. A name that no code page holds (a lone surrogate) cannot reach a host
// component: on Windows it is refused before the host is called.
TEST_F(CmdCall, CopyOfANonAsciiIdBehavesTheSameOnEveryPlatform) {
  const std::string section = "MAIN/CUSTOMERS/CUSTOMERS/";
  const std::string source = "\xC3\xA9\xE2\x82\xAC" "1";  // "é€1"
  const std::string target = "\xC3\xA9\xE2\x82\xAC" "2";
  const std::string source_url = section + "%C3%A9%E2%82%AC1";
  ASSERT_EQ(client().put(api + "file/" + source_url, data_body(R"(["x",["y","z"]])")).raw,
            empty_success());
  expect_responses(client(), {
      {"POST", "cmd/COPY/" + source_url, "{\"to\":\"" + target + "\"}",
       json_response("{\"message\":\"1 item copied.\",\"output\":[\"" + target + "\"]}")},
      {"GET", "file/" + section + "%C3%A9%E2%82%AC2", "", item_response(target, R"(["x",["y","z"]])")},
      {"GET", "file/" + source_url, "", item_response(source, R"(["x",["y","z"]])")},
      {"POST", "cmd/ECHO/" + source_url, "",
       json_response("{\"message\":\"ECHO\",\"output\":[\"CUSTOMERS\",\"" + source + "\",\"\"]}")},
  });
  const http_response outside = client().post(api + "cmd/COPY/" + section + "X%ED%A0%80", R"({"to":"Y"})");
  if (windows_programs()) {
    EXPECT_EQ(outside.raw, rest_error(400, "File name or item ID cannot be represented in the host's code page."));
  } else {
    EXPECT_TRUE(is_host_error(outside, 404, "202"));  // sent, and not found
  }
}

}  // namespace
}  // namespace ombrix::e2e
