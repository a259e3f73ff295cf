#include "logging/log_levels.h"

#include <syslog.h>

#include <iostream>

#include "logging/logger.h"

namespace Logging {

const std::map<int, std::string> level_names = {
    {ERROR, "ERROR"},
    {WARNING, "WARNING"},
    {INFO, "INFO"},
    {DEBUG, "DEBUG"},
};

const std::map<int, int> syslog_priorities = {
    {ERROR, LOG_ERR},
    {WARNING, LOG_WARNING},
    {INFO, LOG_INFO},
    {DEBUG, LOG_DEBUG},
};

int parse_log_level(const std::string& name) {
  // Built on first use; a function-local static is initialised exactly once.
  static const std::map<std::string, int> level_numbers = {
      {"DEBUG", DEBUG},
      {"INFO", INFO},
      {"WARNING", WARNING},
      {"ERROR", ERROR},
  };
  auto it = level_numbers.find(name);
  if (it != level_numbers.end()) return it->second;
  std::cerr << "Invalid logging level string: " << name << std::endl;
  return 0;
}

}  // namespace Logging
