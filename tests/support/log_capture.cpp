#include "log_capture.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

LogCapture::LogCapture(int max_level) {
  char name[] = "/tmp/olvex-log-XXXXXX";
  int fd = mkstemp(name);
  if (fd >= 0) close(fd);
  path_ = name;
  Logging::init_logging(path_, max_level, "%L: %M", false, false);
}

LogCapture::~LogCapture() {
  Logging::init_logging("", Logging::ERROR, "", false, false);
  unlink(path_.c_str());
}

std::string LogCapture::text() const {
  std::ifstream in(path_, std::ios::binary);
  std::ostringstream out;
  out << in.rdbuf();
  return out.str();
}

std::vector<std::string> LogCapture::lines() const {
  std::vector<std::string> result;
  std::istringstream in(text());
  for (std::string line; std::getline(in, line);) result.push_back(line);
  return result;
}

bool LogCapture::contains(const std::string& needle) const {
  return text().find(needle) != std::string::npos;
}
