#include "app/version.h"

#include <FLAC/format.h>
#include <gtest/gtest.h>
#include <lame/lame.h>
#include <vorbis/codec.h>

#include <sstream>

namespace {

TEST(PrintVersion, FiveLinesInOrder) {
  std::ostringstream out;
  print_version(out);
  EXPECT_EQ(out.str(), std::string("olvex version: 1.1.1\n") + "LAME library version: " +
                           get_lame_version() + "\nFLAC library version: " + FLAC__VERSION_STRING +
                           "\n" + vorbis_version_string() + "\nFUSE library version: 2.9\n");
}

TEST(PrintCodecVersions, IsTheMiddleThreeLines) {
  std::ostringstream all;
  std::ostringstream codecs;
  print_version(all);
  print_codec_versions(codecs);
  const std::string text = all.str();
  const size_t first_end = text.find('\n') + 1;
  const size_t last_start = text.rfind("FUSE library version: ");
  EXPECT_EQ(text.substr(first_end, last_start - first_end), codecs.str());
}

}  // namespace
