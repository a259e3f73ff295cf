#include "logging/logger.h"

#include <cstdio>

#include "logging/log_facility.h"

namespace Logging {

Logger::Logger(int level) : level(level), facility(active_facility) {}

Logger::~Logger() {
  // The filter comes first so that a dropped message costs nothing more.
  if (facility == nullptr || level > facility->max_level) return;
  emit(*facility, level, str());
}

void log_printf(int level, const char* prefix, const char* format, va_list ap) {
  va_list copy;
  va_copy(copy, ap);
  const int length = std::vsnprintf(nullptr, 0, format, ap);
  if (length < 0) {
    // Unformattable: keep the raw format rather than lose the message.
    va_end(copy);
    Logger(level) << prefix << format;
    return;
  }
  std::string text(static_cast<std::size_t>(length), '\0');
  std::vsnprintf(text.data(), text.size() + 1, format, copy);
  va_end(copy);
  Logger(level) << prefix << text;
}

}  // namespace Logging
