#include "sheets/sheet_text.h"

#include <gtest/gtest.h>

TEST(SheetTextToUtf8, KeepsUtf8AndReadsAnythingElseAsWindows1252) {
  const struct {
    std::string bytes;
    std::string expected;
  } cases[] = {
      {"TITLE \"Plain\"", "TITLE \"Plain\""},
      {"\xEF\xBB\xBFTITLE \"Caf\xC3\xA9\"", "TITLE \"Caf\xC3\xA9\""},              // BOM dropped
      {"Caf\xE9", "Caf\xC3\xA9"},                                                  // é
      {"\x80 \x93x\x94 \x9F", "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D \xC5\xB8"},  // € “x” Ÿ
      {"\x81", "\xEF\xBF\xBD"},                          // a hole of the code page
      {"\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"},      // mixed: all of it 1252
      {"\xC0\xAF", "\xC3\x80\xC2\xAF"},                  // overlong is not UTF-8
      {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},  // nor is a surrogate
      {"\xF0\x9F\x8E\xB5", "\xF0\x9F\x8E\xB5"},          // four-byte UTF-8 kept
  };
  for (const auto& c : cases) {
    EXPECT_EQ(sheet_text_to_utf8(c.bytes), c.expected) << c.bytes;
  }
}
