#pragma once

#include <string>

namespace Logging {

// Expands the tokens %T, %I, %L and %M of format in one left-to-right pass.
// Replacements are never rescanned; any other character, a lone '%' included,
// is copied as it is.
std::string format_line(const std::string& format, const std::string& time,
                        const std::string& thread, const std::string& level,
                        const std::string& message);

// The current local time as "YYYY-MM-DD HH:MM:SS" (empty if strftime fails).
std::string time_text();

// The calling thread's handle as 0x followed by lowercase hex digits.
std::string thread_text();

}  // namespace Logging
