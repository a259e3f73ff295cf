#include "decoders/ffmpeg_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <cstdarg>
#include <string>

#include "logging/logger.h"

namespace {

void forward(void* context, int av_level, const char* format, va_list ap) {
  const int level = ffmpeg_log_level(av_level);
  if (level == 0) return;
  char line[1024];
  // A fresh prefix state per message: the callback runs on many threads at once.
  int print_prefix = 1;
  if (av_log_format_line2(context, av_level, format, ap, line, sizeof line, &print_prefix) < 0) {
    return;
  }
  std::string text = line;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  if (text.empty()) return;
  Logging::Logger(level) << "FFmpeg: " << text;
}

}  // namespace

int ffmpeg_log_level(int av_level) {
  if (av_level <= AV_LOG_ERROR) return Logging::ERROR;
  if (av_level <= AV_LOG_VERBOSE) return Logging::DEBUG;
  return 0;
}

void route_ffmpeg_log() {
  static const bool routed = (av_log_set_callback(forward), true);
  (void)routed;
}
