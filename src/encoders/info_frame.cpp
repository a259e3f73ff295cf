#include "encoders/info_frame.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "encoders/lame_geometry.h"
#include "encoders/mp3_arithmetic.h"

namespace {

// Offsets within the tag, which starts after the frame header and the side information.
constexpr size_t kFrameCount = 8;
constexpr size_t kByteCount = 12;
constexpr size_t kToc = 16;
constexpr size_t kTocEntries = 100;
constexpr size_t kDelayAndPadding = 141;
constexpr size_t kMusicLength = 148;
constexpr size_t kMusicCrc = 152;
constexpr size_t kTagCrc = 154;
constexpr size_t kTagBytes = 156;

// Where the tag starts: it takes the place of the side information, whose length depends on
// the MPEG version and on mono. 0 for a header this frame cannot have.
size_t tag_offset(std::span<const uint8_t> frame) {
  if (frame.size() < 4 || frame[0] != 0xFF || (frame[1] & 0xE0) != 0xE0) return 0;
  if ((frame[1] & 1) == 0) return 0;  // a CRC after the header: LAME never writes one here
  const bool mpeg1 = ((frame[1] >> 3) & 3) == 3;
  const bool mono = (frame[3] >> 6) == 3;
  const size_t side_info = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
  return 4 + side_info;
}

void put_be32(uint8_t* at, uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<uint8_t>(value >> (24 - 8 * i));
}

void put_be16(uint8_t* at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value);
}

// LAME's table of contents: it records the running bitrate total every `want` frames into
// 400 slots, keeps every second slot and doubles `want` whenever they are full, and reads the
// table from those slots. Replayed here for frames of one bitrate, in LAME's own number types,
// so that every rounding agrees with a frame LAME writes at the end of the stream.
void fill_toc(uint8_t* toc, int frames, int kbps) {
  constexpr int kSlots = 400;
  std::array<int64_t, kSlots> slots{};
  int64_t sum = 0;
  int seen = 0, want = 1, pos = 0;
  for (int f = 0; f < frames; ++f) {
    sum += kbps;
    if (++seen < want) continue;
    if (pos < kSlots) {
      slots[pos++] = sum;
      seen = 0;
    }
    if (pos == kSlots) {
      for (int i = 1; i < kSlots; i += 2) slots[i / 2] = slots[i];
      want *= 2;
      pos /= 2;
    }
  }
  std::memset(toc, 0, kTocEntries);
  if (pos <= 0) return;
  for (size_t i = 1; i < kTocEntries; ++i) {
    const float share = static_cast<float>(i) / static_cast<float>(kTocEntries);
    const int slot =
        std::min(static_cast<int>(std::floor(share * static_cast<float>(pos))), pos - 1);
    const float act = static_cast<float>(slots[slot]);
    const float total = static_cast<float>(sum);
    toc[i] = static_cast<uint8_t>(std::min(static_cast<int>(256.0 * act / total), 255));
  }
}

}  // namespace

std::vector<uint8_t> info_frame(std::span<const uint8_t> lame_frame,
                                const InfoFrameStream& stream) {
  const size_t tag = tag_offset(lame_frame);
  if (tag == 0 || lame_frame.size() < tag + kTagBytes) return {};
  if (std::memcmp(lame_frame.data() + tag, "Info", 4) != 0) return {};

  std::vector<uint8_t> frame(lame_frame.begin(), lame_frame.end());
  uint8_t* t = frame.data() + tag;
  // The byte count and the music length include the information frame itself; the frame
  // count does not.
  const auto stream_bytes = static_cast<uint32_t>(stream.audio_bytes + frame.size());
  put_be32(t + kFrameCount, static_cast<uint32_t>(stream.frames));
  put_be32(t + kByteCount, stream_bytes);
  fill_toc(t + kToc, stream.frames, stream.kbps);
  const int delay = std::clamp(stream.encoder_delay, 0, 4095);
  const int padding = std::clamp(stream.padding, 0, 4095);
  t[kDelayAndPadding] = static_cast<uint8_t>(delay >> 4);
  t[kDelayAndPadding + 1] = static_cast<uint8_t>(((delay & 15) << 4) | (padding >> 8));
  t[kDelayAndPadding + 2] = static_cast<uint8_t>(padding);
  put_be32(t + kMusicLength, stream_bytes);
  put_be16(t + kMusicCrc, 0);
  put_be16(t + kTagCrc, lame_tag_crc(std::span(frame.data(), tag + kTagCrc)));
  return frame;
}

InfoFrameStream info_frame_stream(const FrameGeometry& geometry, uint64_t samples, int in_rate) {
  InfoFrameStream stream;
  stream.frames = geometry.frames;
  stream.kbps = geometry.kbps;
  stream.encoder_delay = geometry.encoder_delay;
  stream.padding = end_padding(geometry.frames, geometry.samples_per_frame, geometry.encoder_delay,
                               output_samples(samples, in_rate, geometry.out_samplerate));
  stream.audio_bytes = cbr_audio_bytes(geometry.frames, geometry.samples_per_frame, geometry.kbps,
                                       geometry.out_samplerate);
  return stream;
}

int end_padding(int frames, int samples_per_frame, int encoder_delay, uint64_t output_samples) {
  const int64_t room = int64_t{frames} * samples_per_frame - encoder_delay;
  if (room < 0 || output_samples > static_cast<uint64_t>(room)) return 0;
  return static_cast<int>(static_cast<uint64_t>(room) - output_samples);
}

uint64_t output_samples(uint64_t samples, int in_rate, int out_rate) {
  if (in_rate <= 0 || out_rate <= 0 || in_rate == out_rate) return samples;
  // Split so that samples * out_rate cannot overflow.
  const auto in = static_cast<uint64_t>(in_rate);
  const auto out = static_cast<uint64_t>(out_rate);
  return samples / in * out + samples % in * out / in;
}

uint16_t lame_tag_crc(std::span<const uint8_t> bytes) {
  uint16_t crc = 0;
  for (uint8_t byte : bytes) {
    crc ^= byte;
    for (int bit = 0; bit < 8; ++bit) crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
  }
  return crc;
}
