#pragma once

#include <cstdarg>
#include <sstream>
#include <string>

namespace Logging {

enum LogLevel : int { ERROR = 1, WARNING = 2, INFO = 3, DEBUG = 4 };

struct LogFacility;

// One log message: stream into it, and the line is emitted when it is destroyed.
//   Logging::Logger(Logging::DEBUG) << "Reading " << size << " bytes.";
class Logger : public std::ostringstream {
 public:
  explicit Logger(int level);
  ~Logger() override;

  Logger(const Logger&) = delete;
  Logger& operator=(const Logger&) = delete;

 private:
  int level;
  LogFacility* facility;
};

// "ERROR" 1, "WARNING" 2, "INFO" 3, "DEBUG" 4; anything else is reported on stderr and gives 0.
int parse_log_level(const std::string& name);

bool init_logging(const std::string& logfile, int max_level, const std::string& format,
                  bool to_stderr, bool to_syslog);

// printf-style entry into the same path, for C callbacks (LAME's).
void log_printf(int level, const char* prefix, const char* format, va_list ap);

}  // namespace Logging
