#include "logging/log_facility.h"

#include <syslog.h>

#include <iostream>
#include <mutex>
#include <vector>

#include "logging/log_format.h"
#include "logging/log_levels.h"
#include "logging/logger.h"

namespace Logging {

LogFacility* active_facility = nullptr;

namespace {

// The file stream is shared by every thread that logs; one lock keeps lines
// whole and lets init_logging close a replaced facility's file safely.
std::mutex& sink_mutex() {
  static std::mutex mutex;
  return mutex;
}

template <typename Map>
auto lookup(const Map& map, int level, typename Map::mapped_type fallback) {
  auto it = map.find(level);
  return it == map.end() ? fallback : it->second;
}

}  // namespace

void emit(LogFacility& facility, int level, const std::string& message) {
  // Without a sink the line would be formatted (clock, time zone, thread) for nobody; every
  // request logs one, so that is worth skipping.
  if (!facility.to_syslog && !facility.file.is_open() && !facility.to_stderr) return;
  const std::string line = format_line(facility.format, time_text(), thread_text(),
                                       lookup(level_names, level, std::string()), message);
  std::lock_guard<std::mutex> lock(sink_mutex());
  if (facility.to_syslog) syslog(lookup(syslog_priorities, level, LOG_DEBUG), "%s", line.c_str());
  if (facility.file.is_open()) facility.file << line << '\n' << std::flush;
  if (facility.to_stderr) std::clog << line << '\n' << std::flush;
}

bool init_logging(const std::string& logfile, int max_level, const std::string& format,
                  bool to_stderr, bool to_syslog) {
  if (max_level == 0) return false;
  auto* facility = new LogFacility{{}, max_level, format, to_stderr, to_syslog};
  if (!logfile.empty()) facility->file.open(logfile, std::ios::out | std::ios::trunc);
  if (to_syslog) openlog("olvex", 0, LOG_USER);
  {
    std::lock_guard<std::mutex> lock(sink_mutex());
    // A replaced facility stays allocated (and reachable) for Loggers that still
    // point at it; only its file is closed so re-initialising leaks no descriptor.
    if (active_facility != nullptr) {
      if (active_facility->file.is_open()) active_facility->file.close();
      static auto* retired = new std::vector<LogFacility*>;
      retired->push_back(active_facility);
    }
    active_facility = facility;
  }
  return !facility->file.fail();
}

}  // namespace Logging
