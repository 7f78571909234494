#include "http/query_string.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "base/settings.h"

namespace ombrix {
namespace {

using namespace std::string_literals;

TEST(QueryString, AppendsTheExpectedLines) {
  const std::pair<std::string, std::string> cases[] = {
      {"a=1&b=2", "QS_A=1\r\nQS_B=2\r\n"},
      {"name=John+Smith&city=New%20York", "QS_NAME=John Smith\r\nQS_CITY=New York\r\n"},
      {"x", "QS_X=\r\n"}, {"x=", "QS_X=\r\n"}, {"=5", "QS_=5=\r\n"}, {"==5", "QS_==5\r\n"},
      {"=", "QS_==\r\n"}, {"a=1=2", "QS_A=1=2\r\n"}, {"%20a%20=v", "QS_A=v\r\n"},
      {"a= v ", "QS_A= v \r\n"}, {"&&a=1&", "QS_A=1\r\n"}, {"+=1&b=2", "QS_B=2\r\n"},
      {"a=%41%42", "QS_A=AB\r\n"}, {"a=%4", "QS_A=\x04\r\n"}, {"a=%", "QS_A=\0\r\n"s},
      {"a=%2z", "QS_A=\x02\r\n"}, {"a=%FFF", "QS_A=\xFF" "F\r\n"},
      {"a=1&a=2", "QS_A=1\r\nQS_A=2\r\n"}, {"a=1;b=2", "QS_A=1;b=2\r\n"}, {"", ""},
      {"MiXeD=CaSe", "QS_MIXED=CaSe\r\n"}, {"%61b=1", "QS_AB=1\r\n"}, {"a+b=c+d", "QS_A B=c d\r\n"},
      {"a=%26%3D", "QS_A=&=\r\n"}, {"a%0D=1", "QS_A=1\r\n"}, {"%20=%0D%0A&b=2", "QS_B=2\r\n"},
      {"a=%-1", "QS_A=\xFF\r\n"}, {"a=% 5", "QS_A=\x05\r\n"}, {"a=%0x", "QS_A=\0\r\n"s},
      {"a=%C3%A9", "QS_A=\xC3\xA9\r\n"},
  };
  for (const auto& [query, lines] : cases) {
    std::string environment = "REQUEST_METHOD=GET\r\n";
    EXPECT_TRUE(parse_query_string(query, environment, default_settings)) << query;
    EXPECT_EQ(environment, "REQUEST_METHOD=GET\r\n" + lines) << query;
  }
}

// A malformed escape throws, a line break is refused; either way the environment is unchanged.
TEST(QueryString, RefusalLeavesTheEnvironmentUnchanged) {
  const std::pair<std::string, bool> cases[] = {  // query, throws (else refused for a line break)
      {"a=%zz", true}, {"%zz=1", true}, {"a=1&b=%zz", true}, {"a=% ", true}, {"a=%%41", true}, {"%20=%zz", true},
      {"a=1&b=x%0D%0AQS_ADMIN=1", false}, {"a=x%0Ay", false}, {"a=%0d", false}, {"a%0Ab=1", false}};
  for (const auto& [query, throws] : cases) {
    std::string environment = "PATH_INFO=/\r\n", error;
    try {
      EXPECT_FALSE(parse_query_string(query, environment, default_settings)) << query;
    } catch (const std::runtime_error& thrown) {
      error = thrown.what();
    }
    EXPECT_EQ(error, throws ? "hex to char failure" : "") << query;
    EXPECT_EQ(environment, "PATH_INFO=/\r\n") << query;
  }
}

}  // namespace
}  // namespace ombrix
