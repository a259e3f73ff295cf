#include "decoders/ffmpeg_log.h"

extern "C" {
#include <libavutil/log.h>
}

#include <gtest/gtest.h>

#include "support/log_capture.h"

namespace {

TEST(FfmpegLogLevel, ErrorsAreErrorsChatterIsDroppedTheRestIsDebug) {
  const struct {
    int av_level;
    int level;
  } cases[] = {
      {AV_LOG_PANIC, Logging::ERROR},
      {AV_LOG_FATAL, Logging::ERROR},
      {AV_LOG_ERROR, Logging::ERROR},
      {AV_LOG_WARNING, Logging::DEBUG},
      {AV_LOG_INFO, Logging::DEBUG},
      {AV_LOG_VERBOSE, Logging::DEBUG},
      {AV_LOG_DEBUG, 0},
      {AV_LOG_TRACE, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ffmpeg_log_level(c.av_level), c.level) << c.av_level;
}

TEST(RouteFfmpegLog, MessagesReachTheLoggerAsWholeLines) {
  route_ffmpeg_log();
  route_ffmpeg_log();  // a second call changes nothing
  LogCapture log;
  av_log(nullptr, AV_LOG_ERROR, "broken header %d\n", 7);
  av_log(nullptr, AV_LOG_WARNING, "odd value\n");
  av_log(nullptr, AV_LOG_DEBUG, "chatter\n");
  av_log(nullptr, AV_LOG_ERROR, "\n");
  EXPECT_EQ(log.lines(), (std::vector<std::string>{"ERROR: FFmpeg: broken header 7",
                                                   "DEBUG: FFmpeg: odd value"}));
}

}  // namespace
