#pragma once

#include <ostream>

// Program, codec-library and FUSE versions, then the FFmpeg libraries': six lines.
void print_version(std::ostream& out);

// The LAME, FLAC and Vorbis library lines of the version text.
void print_codec_versions(std::ostream& out);

// The one line naming the FFmpeg libraries' versions, as run.
void print_ffmpeg_versions(std::ostream& out);
