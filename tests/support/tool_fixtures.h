#pragma once

// Writers of the formats read through FFmpeg: a PCM WAV from synthesized audio,
// and that WAV encoded by Debian's command-line encoders (ffmpeg, opusenc,
// wavpack, flac) into the other formats, with tags and a cover.

#include <string>
#include <vector>

#include "support/fixtures.h"

namespace fixtures {

// A PCM WAV of spec (16 or 24 bits); more than two channels get the
// extensible header with the standard speaker mask (5.1 for six).
bool write_wav(const std::string& path, const AudioSpec& spec);

struct ToolTags {
  std::string title;
  std::string artist;
  std::string album;
  std::string track;  // "3/12" or "3"
};

// The ways a fixture is made; the target's extension is the caller's choice.
enum class Tool {
  Opus,
  WavPack,
  Alac,
  Aac,
  Wav,
  Aiff,
  Tta,
  OggFlac,
  Wma,
  MatroskaFlac,
  WebmOpus,
  Adts,
  Ac3,
  Dts,
  Musepack,
};

// Encodes wav into target. cover (PNG bytes, may be empty) is embedded as the
// front cover where the tool can carry one. false when the tool fails.
bool encode_with_tool(Tool tool, const std::string& wav, const std::string& target,
                      const ToolTags& tags, const std::vector<uint8_t>& cover = {});

// A DSF file (1-bit DSD at 64 times 44.1 kHz) of spec's length and channels from a
// second-order delta-sigma modulator, each channel a sine at spec's frequency and amplitude
// (of full modulation); with an ID3v2 title when title is not empty.
bool write_dsf(const std::string& path, const AudioSpec& spec, const std::string& title = "");

// A minimal ID3v2.3 tag holding one TIT2 frame, as raw streams carry tags before their data.
std::vector<uint8_t> id3v2_title(const std::string& title);

}  // namespace fixtures
