#include "logging/logger.h"

#include <gtest/gtest.h>

#include <cstdarg>

#include "support/fixtures.h"
#include "support/log_capture.h"

namespace {

void printf_to_log(int level, const char* prefix, const char* format, ...) {
  va_list ap;
  va_start(ap, format);
  Logging::log_printf(level, prefix, format, ap);
  va_end(ap);
}

TEST(Logger, LevelFilter) {
  const struct {
    int max_level;
    bool error, info, debug;
  } cases[] = {
      {Logging::ERROR, true, false, false},
      {Logging::INFO, true, true, false},
      {Logging::DEBUG, true, true, true},
  };
  for (const auto& c : cases) {
    LogCapture cap(c.max_level);
    Logging::Logger(Logging::ERROR) << "e";
    Logging::Logger(Logging::INFO) << "i";
    Logging::Logger(Logging::DEBUG) << "d";
    std::string expected;
    if (c.error) expected += "ERROR: e\n";
    if (c.info) expected += "INFO: i\n";
    if (c.debug) expected += "DEBUG: d\n";
    EXPECT_EQ(cap.text(), expected) << "max level " << c.max_level;
  }
}

TEST(Logger, StreamsValuesWithDefaultFormatting) {
  LogCapture cap;
  Logging::Logger(Logging::INFO) << "n=" << -7 << " u=" << 18446744073709551615ull << " f=" << 89.0f
                                 << " c=" << 'x';
  EXPECT_EQ(cap.lines(), std::vector<std::string>{"INFO: n=-7 u=18446744073709551615 f=89 c=x"});
}

TEST(Logger, MessageTokensAreNotExpanded) {
  LogCapture cap;
  Logging::Logger(Logging::ERROR) << "100%M %T";
  EXPECT_EQ(cap.text(), "ERROR: 100%M %T\n");
}

TEST(Logger, BindsToTheFacilityAtConstruction) {
  fixtures::TempDir dir;
  LogCapture cap;
  {
    Logging::Logger early(Logging::INFO);
    early << "early";
    ASSERT_TRUE(Logging::init_logging(dir / "later.log", Logging::INFO, "%M", false, false));
  }
  // The Logger made before the swap wrote to the capture's (now closed) file
  // or nowhere, never to the new file.
  auto bytes = fixtures::read_file(dir / "later.log");
  EXPECT_TRUE(bytes.empty());
}

TEST(Logger, DefaultFormatLayout) {
  fixtures::TempDir dir;
  const std::string path = dir / "default.log";
  ASSERT_TRUE(Logging::init_logging(path, Logging::INFO, "[%T] tid=%I %L: %M", false, false));
  Logging::Logger(Logging::INFO) << "getattr /a.mp3";
  auto bytes = fixtures::read_file(path);
  Logging::init_logging("", Logging::ERROR, "", false, false);
  std::string text(bytes.begin(), bytes.end());
  // "[YYYY-MM-DD HH:MM:SS] tid=0x... INFO: message\n"
  ASSERT_GT(text.size(), 28u) << text;
  EXPECT_EQ(text[0], '[');
  EXPECT_EQ(text.substr(20, 8), "] tid=0x") << text;
  const size_t level_at = text.find(' ', 28);
  ASSERT_NE(level_at, std::string::npos) << text;
  EXPECT_EQ(text.substr(level_at), " INFO: getattr /a.mp3\n");
}

TEST(LogPrintf, FormatsAfterThePrefix) {
  LogCapture cap;
  printf_to_log(Logging::INFO, "LAME: ", "%d frames of %s", 12, "audio");
  EXPECT_EQ(cap.text(), "INFO: LAME: 12 frames of audio\n");
}

TEST(LogPrintf, KeepsTrailingNewlineInTheMessage) {
  LogCapture cap;
  printf_to_log(Logging::ERROR, "LAME: ", "bad value %d\n", 3);
  EXPECT_EQ(cap.text(), "ERROR: LAME: bad value 3\n\n");
  EXPECT_EQ(cap.lines(), (std::vector<std::string>{"ERROR: LAME: bad value 3", ""}));
}

TEST(LogPrintf, LongTextIsNotTruncated) {
  LogCapture cap;
  const std::string long_text(5000, 'q');
  printf_to_log(Logging::DEBUG, "", "%s|", long_text.c_str());
  EXPECT_EQ(cap.text(), "DEBUG: " + long_text + "|\n");
}

TEST(LogPrintf, RespectsTheLevelFilter) {
  LogCapture cap(Logging::ERROR);
  printf_to_log(Logging::DEBUG, "LAME: ", "%s", "chatter");
  EXPECT_EQ(cap.text(), "");
}

}  // namespace
