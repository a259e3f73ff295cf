#include "app/version.h"

#include <FLAC/format.h>
#include <fuse.h>
#include <lame/lame.h>
#include <vorbis/codec.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/avutil.h>
#include <libswresample/swresample.h>
}

namespace {

constexpr const char* program_version = "1.1.1";

// "59.27.100" from FFmpeg's packed version numbers.
void put_version(std::ostream& out, unsigned version) {
  out << AV_VERSION_MAJOR(version) << "." << AV_VERSION_MINOR(version) << "."
      << AV_VERSION_MICRO(version);
}

}  // namespace

void print_codec_versions(std::ostream& out) {
  out << "LAME library version: " << get_lame_version() << std::endl;
  out << "FLAC library version: " << FLAC__VERSION_STRING << std::endl;
  out << vorbis_version_string() << std::endl;
}

void print_version(std::ostream& out) {
  out << "olvex version: " << program_version << std::endl;
  print_codec_versions(out);
  out << "FUSE library version: " << FUSE_MAJOR_VERSION << "." << FUSE_MINOR_VERSION << std::endl;
  print_ffmpeg_versions(out);
}

void print_ffmpeg_versions(std::ostream& out) {
  out << "FFmpeg library versions: libavformat ";
  put_version(out, avformat_version());
  out << ", libavcodec ";
  put_version(out, avcodec_version());
  out << ", libavutil ";
  put_version(out, avutil_version());
  out << ", libswresample ";
  put_version(out, swresample_version());
  out << std::endl;
}
