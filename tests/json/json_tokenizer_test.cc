#include "json/json_tokenizer.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "json/json_writer.h"

namespace ombrix {
namespace {

// A tokenizer over a copy of the text in a heap block of exactly its size, so that a read past
// the end is caught by the address sanitizer.
struct tokenized {
  explicit tokenized(std::string_view text) : bytes(new char[text.empty() ? 1 : text.size()]) {
    std::copy(text.begin(), text.end(), bytes.get());
    t.init(text.empty() ? nullptr : bytes.get(), static_cast<std::uint32_t>(text.size()));
  }
  std::unique_ptr<char[]> bytes;
  json_tokenizer t;
};

std::string printable(std::string_view bytes) {
  static constexpr char digits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char b : bytes) {
    if (b >= 0x20 && b < 0x7F && b != '<') out += static_cast<char>(b);
    else out.append({'<', digits[b >> 4], digits[b & 0xF], '>'});
  }
  return out;
}

// Every token up to the first end (0) or error (12): kinds separated by blanks, strings and
// names followed by ":" and their decoded bytes.
std::string trace(std::string_view text) {
  tokenized in(text);
  std::string out;
  for (int i = 0; i < 100; ++i) {
    const std::uint32_t kind = in.t.next();
    if (!out.empty()) out += ' ';
    out += std::to_string(kind);
    if (kind == json_kind::string || kind == json_kind::name) out += ':' + printable(in.t.string_value());
    if (kind == json_kind::end || kind == json_kind::error) return out;
  }
  return out + " ...";
}

TEST(JsonTokenizerTest, TokenTraces) {
  const std::pair<std::string, std::string> cases[] = {
      // Structure and literals; the byte after a literal is refused by the next call.
      {"", "0"}, {"{}", "1 2 0"}, {" [ ] ", "3 4 0"}, {"[true,false,null]", "3 5 6 7 4 0"}, {"[tru]", "3 12"},
      {"truex", "5 12"}, {"'a'", "12"}, {std::string("[\0]", 3), "3 12"},
      {"{\"a\":{\"b\":[1]}}", "1 11:a 1 11:b 3 8 4 2 2 0"},
      // Commas: a string takes its comma along, and it does not count for the next value.
      {R"(["a","b",])", "3 10:a 10:b 4 0"}, {"[1,]", "3 8 12"}, {"{\"a\":1,}", "1 11:a 8 12"}, {"[,1]", "3 12"},
      {"[1,,2]", "3 8 12"}, {R"(["a",,1])", "3 10:a 8 4 0"}, {",[", "3 0"}, {"{\"a\":,1}", "1 11:a 8 2 0"},
      // Numbers.
      {"[1.5e3 ]", "3 9 4 0"}, {"[1e3]", "3 12"}, {"[1+2]", "3 12"}, {"[+5]", "3 8 4 0"}, {"[-]", "3 12"},
      {"[1 2]", "3 8 8 4 0"}, {"[5", "3 0"},
      // Strings, names and what follows them; raw control bytes are accepted, NUL is not.
      {R"("abc")", "10:abc 0"}, {"\"a\" \t\r\n:", "11:a 0"}, {R"("a" })", "10:a 2 0"}, {R"("a" x)", "12"},
      {R"("a)", "12"}, {"\"a\x01\x1F\x7F\"", "10:a<01><1F><7F> 0"}, {std::string("\"a\0b\"", 5), "12"},
      // Escapes; lone or reversed surrogates become U+FFFD.
      {R"("\b\f\n\r\t")", "10:<08><0C><0A><0D><09> 0"}, {R"("\"\\\/\x\'")", "10:\"\\/x' 0"},
      {R"("\u0041\u00e9\u00E9")", "10:A<C3><A9><C3><A9> 0"}, {R"(["\u0039\n","\t"])", "3 10:9<0A> 10:<09> 4 0"},
      {R"("\u07FF\u0800\uFFFF")", "10:<DF><BF><E0><A0><80><EF><BF><BF> 0"},
      {R"("\uD83D")", "10:<EF><BF><BD> 0"}, {R"("\uD83D\uDE00")", "10:<F0><9F><98><80> 0"},
      {R"("\uDE00\uD83D")", "10:<EF><BF><BD><EF><BF><BD> 0"},
      {R"("\uD83D\uD83D\uDE00")", "10:<EF><BF><BD><F0><9F><98><80> 0"}, {R"("\uD83D\uDE0")", "12"},
      {R"("\u12")", "12"}, {"\"a\\", "12"}, {std::string("\"a\\\0\"", 5), "12"}, {R"("a\"b":)", "11:a\"b 0"},
  };
  for (const auto& [text, expected] : cases) EXPECT_EQ(trace(text), expected) << printable(text);
}

// Whatever byte the writer is given, the tokenizer reads back the same byte, twice in a row.
TEST(JsonTokenizerTest, ReadsBackEveryStringTheWriterWrites) {
  for (int b = 0; b < 256; ++b) {
    const std::string input{'a', static_cast<char>(b)};
    json_writer w;
    w.begin_array();
    w.string(input);
    w.string(input);
    w.end_array();
    tokenized in(w.view());
    ASSERT_EQ(in.t.next(), json_kind::begin_array);
    for (int k = 0; k < 2; ++k) {
      ASSERT_EQ(in.t.next(), json_kind::string) << b;
      ASSERT_EQ(in.t.string_value(), input) << b;
    }
    ASSERT_EQ(in.t.next(), json_kind::end_array);
  }
}

}  // namespace
}  // namespace ombrix
