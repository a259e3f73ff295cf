#include "decoders/base64.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/fixtures.h"

namespace {

struct Base64Case {
  const char* name;
  std::string text;
  std::optional<std::string> decoded;  // none: must fail
};

const Base64Case kCases[] = {
    {"empty", "", std::string()},
    {"one group", "TWFu", std::string("Man")},
    {"two padded", "TWE=", std::string("Ma")},
    {"one padded", "TQ==", std::string("M")},
    {"several groups", "aGVsbG8gd29ybGQ=", std::string("hello world")},
    {"all alphabet values", "+/+/", std::string("\xfb\xff\xbf", 3)},
    {"unused low bits set, two", "TR==", std::string("M")},
    {"unused low bits set, three", "TWF=", std::string("Ma")},
    {"zero bytes", "AAAA", std::string("\0\0\0", 3)},
    {"padding missing", "TWE", std::nullopt},
    {"one left over", "TWFuT", std::nullopt},
    {"three left over", "TWFuTWF", std::nullopt},
    {"padding in an early group", "TQ==TWFu", std::nullopt},
    {"one pad in an early group", "TWE=TWFu", std::nullopt},
    {"third pad without fourth", "TQ=u", std::nullopt},
    {"pad first", "=TWF", std::nullopt},
    {"pad second", "T=Fu", std::nullopt},
    {"only padding", "====", std::nullopt},
    {"line feed", "TWFu\nTWFu", std::nullopt},
    {"carriage return line feed", "TWFu\r\n", std::nullopt},
    {"blank", "TW Fu", std::nullopt},
    {"tab", "TWF\t", std::nullopt},
    {"url-safe minus", "TW-u", std::nullopt},
    {"url-safe underscore", "TW_u", std::nullopt},
    {"NUL", std::string("TW\0u", 4), std::nullopt},
    {"high byte", "TW\xc3u", std::nullopt},
    {"pad then data in last group", "TW=u", std::nullopt},
};

TEST(DecodeBase64, DecodesStrictlyPaddedStandardBase64) {
  for (const Base64Case& c : kCases) {
    SCOPED_TRACE(c.name);
    auto bytes = decode_base64(c.text.data(), c.text.size());
    ASSERT_EQ(bytes.has_value(), c.decoded.has_value());
    if (bytes) {
      EXPECT_EQ(std::string(bytes->begin(), bytes->end()), *c.decoded);
    }
  }
}

TEST(DecodeBase64, ReadsNoFurtherThanTheGivenLength) {
  // Only the first four bytes count; what follows in memory must not be looked at.
  const char text[] = "TWFu!!!!";
  auto bytes = decode_base64(text, 4);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(std::string(bytes->begin(), bytes->end()), "Man");
}

TEST(DecodeBase64, RoundTripsEveryByteValueAndLength) {
  std::vector<uint8_t> all;
  for (int i = 0; i < 256; ++i) all.push_back(static_cast<uint8_t>(i));
  for (size_t length : {0u, 1u, 2u, 3u, 4u, 255u, 256u}) {
    std::vector<uint8_t> input(all.begin(), all.begin() + length);
    std::string text = fixtures::base64(input);
    auto bytes = decode_base64(text.data(), text.size());
    ASSERT_TRUE(bytes) << length;
    EXPECT_EQ(*bytes, input) << length;
  }
}

TEST(DecodeBase64, RejectsTextWrappedIntoLines) {
  std::string text = fixtures::base64(std::vector<uint8_t>(120, 0x5a));
  ASSERT_TRUE(decode_base64(text.data(), text.size()));
  text.insert(76, "\n");
  EXPECT_FALSE(decode_base64(text.data(), text.size()));
}

}  // namespace
