#include "logging/log_format.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

// Pattern letters: 'd' a digit, 'x' a lowercase hex digit, anything else itself.
bool matches_shape(const std::string& text, const std::string& shape) {
  if (text.size() != shape.size()) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = text[i];
    if (shape[i] == 'd' ? !std::isdigit(c) : c != shape[i]) return false;
  }
  return true;
}

struct FormatCase {
  const char* format;
  const char* message;
  const char* expected;
};

// Time "T", thread "I", level "L" keep the expected texts readable.
const FormatCase format_cases[] = {
    {"[%T] tid=%I %L: %M", "hello", "[T] tid=I L: hello"},
    {"%%M", "msg", "%msg"},
    {"end%", "msg", "end%"},
    {"%X%M", "msg", "%Xmsg"},
    {"%M%M", "ab", "abab"},
    {"", "ignored", ""},
    {"%", "m", "%"},
    {"%L", "", "L"},
    {"%M", "has %T and %M inside", "has %T and %M inside"},
    {"%M", "two\nlines\n", "two\nlines\n"},
    {"plain text", "m", "plain text"},
    {"%m%t", "m", "%m%t"},
};

TEST(FormatLine, ExpandsTokensInOnePass) {
  for (const auto& c : format_cases) {
    EXPECT_EQ(Logging::format_line(c.format, "T", "I", "L", c.message), c.expected)
        << "format \"" << c.format << "\"";
  }
}

TEST(FormatLine, ReplacementIsNotRescannedEvenWhenItEndsInPercent) {
  // A replacement ending in '%' must not join the following "M" into a token.
  EXPECT_EQ(Logging::format_line("%LM", "", "", "50%", "x"), "50%M");
}

TEST(TimeText, IsDateAndTimeOfDay) {
  const std::string text = Logging::time_text();
  EXPECT_TRUE(matches_shape(text, "dddd-dd-dd dd:dd:dd")) << text;
}

TEST(ThreadText, IsLowercaseHexWithPrefix) {
  const std::string text = Logging::thread_text();
  ASSERT_GT(text.size(), 2u);
  EXPECT_EQ(text.substr(0, 2), "0x");
  EXPECT_EQ(text.find_first_not_of("0123456789abcdef", 2), std::string::npos) << text;
  EXPECT_EQ(text, Logging::thread_text());
}

}  // namespace
