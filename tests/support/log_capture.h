#pragma once

#include <string>
#include <vector>

#include "logging/logger.h"

// Sends every log message up to max_level, formatted as "LEVEL: message", to
// a temporary file that the test can read back. Installs a silent facility
// again on destruction. Messages may hold newlines, so lines() gives the
// physical lines and text() everything as written.
class LogCapture {
 public:
  explicit LogCapture(int max_level = Logging::DEBUG);
  ~LogCapture();
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  std::string text() const;
  std::vector<std::string> lines() const;
  bool contains(const std::string& needle) const;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};
