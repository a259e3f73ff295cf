#include <climits>
#include <vector>

#include "app/settings.h"
#include "encoders/lame_setup.h"
#include "encoders/mp3_arithmetic.h"
#include "encoders/mp3_encoder.h"
#include "transcode/buffer.h"

int Mp3Encoder::encode_samples(const int32_t* const* channels, int count, int bits_per_sample) {
  if (!usable() || !buffer || count < 0 || !channels || !channels[0]) return -1;
  if (bits_per_sample < 1 || bits_per_sample > 32) return -1;
  if (count == 0) return 0;
  const size_t area_size = size_t{5} * static_cast<size_t>(count) / 4 + kFlushArea;
  if (area_size > INT_MAX) return -1;

  const bool stereo = lame_get_num_channels(lame_handle.get()) >= 2;
  if (stereo && !channels[1]) return -1;
  std::vector<int> left, right;
  scale_channels(channels, 0, count, bits_per_sample, stereo, left, right);

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
