#include "app/version.h"

#include <FLAC/format.h>
#include <fuse.h>
#include <lame/lame.h>
#include <vorbis/codec.h>

namespace {
constexpr const char* program_version = "1.1.1";
}

void print_codec_versions(std::ostream& out) {
  out << "LAME library version: " << get_lame_version() << std::endl;
  out << "FLAC library version: " << FLAC__VERSION_STRING << std::endl;
  out << vorbis_version_string() << std::endl;
}

void print_version(std::ostream& out) {
  out << "olvex version: " << program_version << std::endl;
  print_codec_versions(out);
  out << "FUSE library version: " << FUSE_MAJOR_VERSION << "." << FUSE_MINOR_VERSION << std::endl;
}
