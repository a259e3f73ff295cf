#include "logging/log_levels.h"

#include <gtest/gtest.h>
#include <syslog.h>

#include <iostream>
#include <sstream>

#include "logging/logger.h"

namespace {

// Redirects std::cerr into a string for the life of the object.
class CerrCapture {
 public:
  CerrCapture() : old(std::cerr.rdbuf(captured.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(old); }
  std::string text() const { return captured.str(); }

 private:
  std::ostringstream captured;
  std::streambuf* old;
};

TEST(ParseLogLevel, KnownNamesAreExactAndCaseSensitive) {
  const struct {
    const char* name;
    int level;
  } cases[] = {
      {"ERROR", 1}, {"WARNING", 2}, {"INFO", 3},   {"DEBUG", 4}, {"debug", 0},
      {"Info", 0},  {"", 0},        {"DEBUG ", 0}, {"WARN", 0},
  };
  for (const auto& c : cases) {
    CerrCapture err;
    EXPECT_EQ(Logging::parse_log_level(c.name), c.level) << "\"" << c.name << "\"";
    const std::string expected =
        c.level == 0 ? "Invalid logging level string: " + std::string(c.name) + "\n" : "";
    EXPECT_EQ(err.text(), expected) << "\"" << c.name << "\"";
  }
}

TEST(LevelTables, NamesAndSyslogPriorities) {
  EXPECT_EQ(Logging::level_names.at(Logging::ERROR), "ERROR");
  EXPECT_EQ(Logging::level_names.at(Logging::INFO), "INFO");
  EXPECT_EQ(Logging::level_names.at(Logging::DEBUG), "DEBUG");
  EXPECT_EQ(Logging::syslog_priorities.at(Logging::ERROR), LOG_ERR);
  EXPECT_EQ(Logging::syslog_priorities.at(Logging::INFO), LOG_INFO);
  EXPECT_EQ(Logging::syslog_priorities.at(Logging::DEBUG), LOG_DEBUG);
}

}  // namespace
