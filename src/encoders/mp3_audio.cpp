#include <climits>
#include <vector>

#include "app/settings.h"
#include "encoders/lame_setup.h"
#include "encoders/mp3_arithmetic.h"
#include "encoders/mp3_encoder.h"
#include "transcode/buffer.h"

namespace {

// The flush area, and the fixed part of an encoding area: LAME's worst case for one
// call is 1.25 bytes per sample plus this, so a block never needs a second call.
constexpr size_t kFlushArea = 7200;
// The largest LAME information frame (320 kbit/s at 8 kHz) fits.
constexpr size_t kInfoFrameArea = 2880;

}  // namespace

int Mp3Encoder::encode_samples(const int32_t* const* channels, int count, int bits_per_sample) {
  if (!usable() || !buffer || count < 0 || !channels || !channels[0]) return -1;
  if (bits_per_sample < 1 || bits_per_sample > 32) return -1;
  if (count == 0) return 0;
  const size_t area_size = size_t{5} * static_cast<size_t>(count) / 4 + kFlushArea;
  if (area_size > INT_MAX) return -1;

  const bool stereo = lame_get_num_channels(lame_handle.get()) >= 2;
  if (stereo && !channels[1]) return -1;
  std::vector<int> left(count, 0);
  std::vector<int> right(count, 0);  // stays silent for mono
  for (int i = 0; i < count; ++i) {
    left[i] = scale_to_32_bits(channels[0][i], bits_per_sample);
    if (stereo) right[i] = scale_to_32_bits(channels[1][i], bits_per_sample);
  }

  std::vector<uint8_t> area(area_size, 0);
  const int r = lame_encode_buffer_int(lame_handle.get(), left.data(), right.data(), count,
                                       area.data(), static_cast<int>(area_size));
  if (r < 0) return -1;
  // Not extending: bytes that would reach the ID3v1 tag's place are dropped.
  buffer->append(std::span(area.data(), static_cast<size_t>(r)), false);
  return 0;
}

int Mp3Encoder::flush_stream() {
  if (!usable() || !buffer) return -1;
  std::vector<uint8_t> area(kFlushArea, 0);
  const int r = lame_encode_flush(lame_handle.get(), area.data(), static_cast<int>(area.size()));
  if (r < 0) return -1;

  const bool exact_size = settings.statcachesize != 0;
  buffer->append(std::span(area.data(), static_cast<size_t>(r)), exact_size);
  if (exact_size) {
    buffer->fit_tail_to_head();
  } else {
    buffer->fit_head_to_tail();  // keep the size announced with the tags
  }

  if (settings.vbr) {
    std::vector<uint8_t> info(kInfoFrameArea, 0);
    const size_t n = lame_get_lametag_frame(lame_handle.get(), info.data(), info.size());
    if (n > info.size()) return -1;
    // The stream's first frame is LAME's placeholder of the same length.
    buffer->overwrite_at(std::span(info.data(), n), id3v2_size);
  }
  return r;
}

uint64_t Mp3Encoder::predicted_size() {
  if (!usable()) return 0;
  lame_global_flags* gfp = lame_handle.get();
  // Frames are counted at the output rate, so their length is too; dividing by the input
  // rate would under-predict a resampled stream and cut it when the cache is off. Below
  // 32 kHz a frame holds 576 samples, not 1152, and so half the bytes.
  return predict_size(lame_get_totalframes(gfp), lame_get_framesize(gfp), encoding_bitrate(gfp),
                      lame_get_out_samplerate(gfp), id3v2_size, settings.vbr != 0);
}
