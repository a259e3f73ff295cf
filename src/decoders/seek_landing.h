#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "encoders/ignoring_encoder.h"

// Stands in for the encoder while a decoder seeks: it drops the first `skip` samples it is
// given and holds the rest, which the decoder's next decode_chunk hands to the real encoder.
// Tags and stream calls are ignored, so a decoder may re-read its headers into it.
class SeekLanding : public IgnoringEncoder {
 public:
  // channels: as the decoder announced them to begin_stream.
  void start(uint64_t skip, int channels);
  bool holding() const { return held_count > 0; }
  // Passes what is held to encoder as one piece and empties the hold: encode_samples' result.
  int release(Encoder* encoder);

  int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) override;

 private:
  uint64_t skip = 0;
  int channels = 0;
  std::vector<std::vector<int32_t>> held;
  int held_count = 0;
  int held_bits = 0;
};

// Runs decode (a decoder's decode_chunk) into landing until it holds the first sample past
// its skip. 0 landed, 1 the stream ended first, -1 decoding failed.
int decode_until_landed(SeekLanding& landing, const std::function<int(Encoder*)>& decode);
