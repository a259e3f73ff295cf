#include "encoders/segment_layout.h"

int SegmentLayout::count() const {
  const int whole = frames / kFrames;
  if (whole == 0) return 1;
  return frames % kFrames >= kFrames / 2 ? whole + 1 : whole;
}

uint64_t SegmentLayout::start_sample(int k) const {
  return static_cast<uint64_t>(first_frame(k) - preroll(k)) *
         static_cast<uint64_t>(samples_per_frame);
}

uint64_t SegmentLayout::bytes_before(int frame) const {
  if (sample_rate <= 0 || frame <= 0) return 0;
  // The arithmetic of the predicted size: one division of the whole product.
  return static_cast<uint64_t>(frame) * static_cast<uint64_t>(samples_per_frame) *
         static_cast<uint64_t>(bitrate) * 125 / static_cast<uint64_t>(sample_rate);
}

int SegmentLayout::segment_at(uint64_t offset) const {
  const uint64_t per_segment = bytes_before(kFrames);
  if (per_segment == 0 || offset < audio_start) return 0;
  const uint64_t k = (offset - audio_start) / per_segment;
  const int last = count() - 1;
  return k >= static_cast<uint64_t>(last) ? last : static_cast<int>(k);
}
