#include "logging/log_format.h"

#include <pthread.h>

#include <array>
#include <cstdint>
#include <ctime>
#include <locale>
#include <sstream>
#include <string_view>
#include <utility>

namespace Logging {

std::string format_line(const std::string& format, const std::string& time,
                        const std::string& thread, const std::string& level,
                        const std::string& message) {
  const std::array<std::pair<std::string_view, const std::string*>, 4> tokens = {{
      {"%T", &time},
      {"%I", &thread},
      {"%L", &level},
      {"%M", &message},
  }};
  std::string line;
  line.reserve(format.size() + message.size() + 64);
  std::string_view rest = format;
  while (!rest.empty()) {
    bool matched = false;
    for (const auto& [token, replacement] : tokens) {
      if (rest.starts_with(token)) {
        line += *replacement;
        rest.remove_prefix(token.size());
        matched = true;
        break;
      }
    }
    if (!matched) {
      line += rest.front();
      rest.remove_prefix(1);
    }
  }
  return line;
}

std::string time_text() {
  std::time_t now = std::time(nullptr);
  std::tm local{};
  // Several threads log at once, so the re-entrant conversion is required.
  if (localtime_r(&now, &local) == nullptr) return {};
  char text[30];
  std::size_t length = std::strftime(text, sizeof text, "%F %T", &local);
  return std::string(text, length);
}

std::string thread_text() {
  std::ostringstream out;
  out.imbue(std::locale::classic());
  out << "0x" << std::hex << static_cast<std::uintmax_t>(pthread_self());
  return out.str();
}

}  // namespace Logging
