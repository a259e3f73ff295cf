#pragma once

#include <fstream>
#include <string>

namespace Logging {

// The configured sinks. Made once by init_logging and never freed, so a
// Logger may keep a plain pointer to it.
struct LogFacility {
  std::ofstream file;
  int max_level;
  std::string format;
  bool to_stderr;
  bool to_syslog;
};

// Absent until init_logging makes a facility.
extern LogFacility* active_facility;

// Builds the line for message and writes it to every enabled sink.
void emit(LogFacility& facility, int level, const std::string& message);

}  // namespace Logging
