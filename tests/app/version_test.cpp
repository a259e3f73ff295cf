#include "app/version.h"

#include <FLAC/format.h>
#include <gtest/gtest.h>
#include <lame/lame.h>
#include <vorbis/codec.h>

#include <algorithm>
#include <sstream>

extern "C" {
#include <libavformat/version.h>
}

namespace {

TEST(PrintVersion, SixLinesInOrder) {
  std::ostringstream out;
  std::ostringstream ffmpeg;
  print_version(out);
  print_ffmpeg_versions(ffmpeg);
  EXPECT_EQ(out.str(),
            std::string("olvex version: 1.1.1\n") + "LAME library version: " + get_lame_version() +
                "\nFLAC library version: " + FLAC__VERSION_STRING + "\n" + vorbis_version_string() +
                "\nFUSE library version: 2.9\n" + ffmpeg.str());
}

TEST(PrintFfmpegVersions, NamesTheFourLibrariesAsRun) {
  std::ostringstream out;
  print_ffmpeg_versions(out);
  const std::string text = out.str();
  const std::string format = std::to_string(LIBAVFORMAT_VERSION_MAJOR) + "." +
                             std::to_string(LIBAVFORMAT_VERSION_MINOR) + ".";
  EXPECT_EQ(text.rfind("FFmpeg library versions: libavformat " + format, 0), 0u) << text;
  for (const char* name : {", libavcodec ", ", libavutil ", ", libswresample "}) {
    EXPECT_NE(text.find(name), std::string::npos) << name;
  }
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

TEST(PrintCodecVersions, IsTheMiddleThreeLines) {
  std::ostringstream all;
  std::ostringstream codecs;
  print_version(all);
  print_codec_versions(codecs);
  const std::string text = all.str();
  const size_t first_end = text.find('\n') + 1;
  const size_t last_start = text.find("FUSE library version: ");
  EXPECT_EQ(text.substr(first_end, last_start - first_end), codecs.str());
}

}  // namespace
