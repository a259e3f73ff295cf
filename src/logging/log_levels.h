#pragma once

#include <map>
#include <string>

namespace Logging {

// Level number to the name a line shows and to its syslog priority.
extern const std::map<int, std::string> level_names;
extern const std::map<int, int> syslog_priorities;

}  // namespace Logging
