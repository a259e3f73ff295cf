#pragma once

#include <ostream>

// Program, codec-library and FUSE versions: five lines.
void print_version(std::ostream& out);

// The LAME, FLAC and Vorbis library lines of the version text.
void print_codec_versions(std::ostream& out);
