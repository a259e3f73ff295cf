#pragma once

// Decodes a whole MP3 file image with libmpg123, for checking what the encoder wrote.

#include <cstdint>
#include <span>
#include <vector>

struct DecodedMp3 {
  long sample_rate = 0;
  int channels = 0;
  std::vector<std::vector<int16_t>> pcm;  // one vector per channel
  int errors = 0;                         // decoder errors, including a failed set-up
  bool clean() const { return errors == 0 && channels > 0; }
  size_t frames() const { return pcm.empty() ? 0 : pcm[0].size(); }  // samples per channel
};

DecodedMp3 decode_mp3(std::span<const uint8_t> bytes);
