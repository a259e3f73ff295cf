#pragma once

// Shared by the encoder suites: synthesized PCM blocks, feeding them to an
// encoder, and reading the Buffer back as a file image.

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "encoders/encoder.h"
#include "support/fixtures.h"
#include "support/info_tag.h"
#include "transcode/buffer.h"

namespace harness {

// Per-channel samples as a decoder hands them over.
struct Pcm {
  fixtures::AudioSpec spec;
  std::vector<std::vector<int32_t>> channels;
};

inline Pcm sine_pcm(const fixtures::AudioSpec& spec) {
  Pcm pcm{spec, std::vector<std::vector<int32_t>>(spec.channels)};
  for (unsigned c = 0; c < spec.channels; ++c) {
    pcm.channels[c].resize(spec.total_samples);
    for (uint64_t i = 0; i < spec.total_samples; ++i) {
      pcm.channels[c][i] = fixtures::sine_sample(spec, c, i);
    }
  }
  return pcm;
}

// Feeds pcm in blocks; false at the first refused block.
inline bool encode_all(Encoder& encoder, const Pcm& pcm, size_t block = 4608) {
  const size_t total = pcm.channels[0].size();
  for (size_t start = 0; start < total; start += block) {
    const size_t n = std::min(block, total - start);
    const int32_t* ptrs[2] = {pcm.channels[0].data() + start,
                              pcm.channels.size() > 1 ? pcm.channels[1].data() + start : nullptr};
    if (encoder.encode_samples(ptrs, static_cast<int>(n), pcm.spec.bits_per_sample) != 0) {
      return false;
    }
  }
  return true;
}

inline std::vector<uint8_t> copy_range(const Buffer& buffer, uint64_t offset, uint64_t size) {
  std::vector<uint8_t> bytes(size);
  buffer.copy_into(bytes.data(), static_cast<int64_t>(offset), size);
  return bytes;
}

inline std::vector<uint8_t> head_bytes(const Buffer& buffer) {
  return copy_range(buffer, 0, buffer.head_size());
}

inline std::vector<uint8_t> tail_bytes(const Buffer& buffer) {
  return copy_range(buffer, buffer.tail_offset(), buffer.total_size() - buffer.tail_offset());
}

// One MPEG audio layer III frame header found while walking a stream.
struct MpegFrame {
  size_t offset = 0;
  size_t length = 0;
  int kbps = 0;
  int sample_rate = 0;
};

// Frame headers from start on, as long as each frame is followed by another header or
// ends exactly at end.
inline std::vector<MpegFrame> walk_frames(const std::vector<uint8_t>& bytes, size_t start,
                                          size_t end) {
  static const int kMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  static const int kRates[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  std::vector<MpegFrame> frames;
  size_t pos = start;
  while (pos + 4 <= end) {
    const uint8_t* h = &bytes[pos];
    if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) break;
    const int version = (h[1] >> 3) & 3;
    const int bitrate_index = h[2] >> 4;
    const int rate_index = (h[2] >> 2) & 3;
    if (version == 1 || rate_index == 3 || bitrate_index == 0 || bitrate_index == 15) break;
    MpegFrame f;
    f.offset = pos;
    f.kbps = version == 3 ? kMpeg1[bitrate_index] : kMpeg2[bitrate_index];
    f.sample_rate = kRates[version][rate_index];
    const int per_kbps = version == 3 ? 144000 : 72000;
    f.length = static_cast<size_t>(per_kbps * f.kbps / f.sample_rate + ((h[2] >> 1) & 1));
    if (pos + f.length > end) break;
    frames.push_back(f);
    pos += f.length;
  }
  return frames;
}

inline bool contains(const std::vector<uint8_t>& bytes, size_t from, size_t to,
                     const std::string& needle) {
  to = std::min(to, bytes.size());
  if (from >= to) return false;
  return std::search(bytes.begin() + from, bytes.begin() + to, needle.begin(), needle.end()) !=
         bytes.begin() + to;
}

// Length of the information frame at offset at; 0 where the stream starts with audio.
inline size_t info_frame_length(const std::vector<uint8_t>& bytes, size_t at) {
  InfoTag tag;
  return read_info_tag(bytes, at, tag) ? tag.frame_length : 0;
}

// The whole file; only meaningful once the head is complete.
inline std::vector<uint8_t> file_bytes(const Buffer& buffer) {
  return copy_range(buffer, 0, buffer.total_size());
}

}  // namespace harness
