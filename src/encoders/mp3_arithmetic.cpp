#include "encoders/mp3_arithmetic.h"

#include <cmath>

int32_t scale_to_32_bits(int32_t sample, int bits_per_sample) {
  // Unsigned so that the bits shifted past bit 31 are simply dropped.
  return static_cast<int32_t>(static_cast<uint32_t>(sample) << (32 - bits_per_sample));
}

void scale_channels(const int32_t* const* channels, int first, int count, int bits_per_sample,
                    bool stereo, std::vector<int>& left, std::vector<int>& right) {
  left.assign(static_cast<size_t>(count), 0);
  right.assign(static_cast<size_t>(count), 0);
  for (int i = 0; i < count; ++i) {
    left[i] = scale_to_32_bits(channels[0][first + i], bits_per_sample);
    if (stereo) right[i] = scale_to_32_bits(channels[1][first + i], bits_per_sample);
  }
}

uint64_t cbr_audio_bytes(int frames, int samples_per_frame, int bitrate_kbps, int samplerate) {
  const int64_t product =
      int64_t{frames} * int64_t{bitrate_kbps} * (int64_t{samples_per_frame} * 1000 / 8);
  if (samplerate <= 0 || product < 0) return 0;
  // One division of the whole product, so fractional frame lengths add up before truncation.
  return static_cast<uint64_t>(product) / static_cast<uint64_t>(samplerate);
}

uint64_t predict_size(int frames, int samples_per_frame, int bitrate_kbps, int samplerate,
                      uint64_t head_size, bool vbr) {
  const uint64_t allowance = vbr ? 3008 : 128;
  return head_size + cbr_audio_bytes(frames, samples_per_frame, bitrate_kbps, samplerate) +
         allowance;
}

uint64_t output_size(uint64_t known_size, uint64_t id3v2_size, uint64_t predicted) {
  return known_size < id3v2_size + kId3v1Bytes ? predicted : known_size;
}

uint64_t length_millis(uint64_t total_samples, uint64_t sample_rate) {
  // Split so that total_samples * 1000 cannot overflow.
  return total_samples / sample_rate * 1000 + total_samples % sample_rate * 1000 / sample_rate;
}

float gain_scale(double decibels) {
  return static_cast<float>(std::pow(10.0, decibels / 20.0));
}
