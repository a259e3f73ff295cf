#include "encoders/segment_encoder.h"

#include <algorithm>

#include "encoders/lame_setup.h"
#include "encoders/mp3_arithmetic.h"
#include "logging/logger.h"

namespace {

// LAME's worst case for one frame's worth of input, and for a flush.
constexpr size_t kArea = 16384;

}  // namespace

SegmentEncoder::SegmentEncoder(const SegmentLayout& layout, int segment)
    : layout(layout),
      preroll(layout.preroll(segment)),
      frames(layout.end_frame(segment) - layout.first_frame(segment)),
      last(segment + 1 >= layout.count()),
      cut(layout.preroll(segment) == 0),
      area(kArea) {
  lame_handle.reset(lame_init());
  if (lame_handle) configure_lame(lame_handle.get());
}

// The decoder's calls set this encoder up in the order they set up the file's own encoder,
// so that both end in the same state (LAME adjusts its scale as its parameters are fixed).
int SegmentEncoder::begin_stream(uint64_t total_samples, int sample_rate, int channels) {
  if (!lame_handle) return -1;
  if (initialized) return 0;  // a second decoder, opened to decode from the start
  lame_global_flags* gfp = lame_handle.get();
  lame_set_num_samples(gfp, total_samples);
  lame_set_in_samplerate(gfp, sample_rate);
  lame_set_num_channels(gfp, channels);
  if (lame_init_params(gfp) == -1 || lame_get_framesize(gfp) != layout.samples_per_frame ||
      lame_get_out_samplerate(gfp) != layout.sample_rate) {
    Logging::Logger(Logging::ERROR) << "Segment encoder set-up failed.";
    return -1;
  }
  initialized = true;
  return 0;
}

void SegmentEncoder::apply_gain(double decibels) {
  if (lame_handle) lame_set_scale(lame_handle.get(), gain_scale(decibels));
}

int SegmentEncoder::flush_nogap(bool keep) {
  const int r =
      lame_encode_flush_nogap(lame_handle.get(), area.data(), static_cast<int>(area.size()));
  if (r < 0) return -1;
  if (keep) kept.insert(kept.end(), area.begin(), area.begin() + r);
  return 0;
}

int SegmentEncoder::encode_piece(const int* l, const int* r, int count) {
  lame_global_flags* gfp = lame_handle.get();
  const int n =
      lame_encode_buffer_int(gfp, l, r, count, area.data(), static_cast<int>(area.size()));
  if (n < 0) return -1;
  // What the pre-roll produced is thrown away with it.
  if (cut) kept.insert(kept.end(), area.begin(), area.begin() + n);
  const int made = lame_get_frameNum(gfp);
  if (!cut && made >= preroll) {
    if (flush_nogap(false) == -1) return -1;
    kept.clear();
    cut = true;
  }
  if (cut && !last && made >= preroll + frames) {
    if (flush_nogap(true) == -1) return -1;
    done = true;
  }
  return 0;
}

int SegmentEncoder::encode_samples(const int32_t* const* channels, int count, int bits_per_sample) {
  if (!ready() || count < 0 || !channels || !channels[0]) return -1;
  if (bits_per_sample < 1 || bits_per_sample > 32) return -1;
  if (done) return 0;
  int first = 0;
  if (to_skip > 0) {
    const uint64_t skipped = std::min<uint64_t>(to_skip, static_cast<uint64_t>(count));
    first = static_cast<int>(skipped);
    to_skip -= skipped;
  }
  const bool stereo = lame_get_num_channels(lame_handle.get()) >= 2;
  if (stereo && !channels[1]) return -1;
  const int spf = lame_get_framesize(lame_handle.get());
  // At most one frame per call, so that the frame count is seen as it reaches each cut.
  for (int at = first; at < count && !done; at += spf) {
    const int n = std::min(spf, count - at);
    scale_channels(channels, at, n, bits_per_sample, stereo, left, right);
    if (encode_piece(left.data(), right.data(), n) == -1) return -1;
  }
  return 0;
}

int SegmentEncoder::flush_stream() {
  if (!ready()) return -1;
  if (done) return 0;
  if (!last || !cut) {
    Logging::Logger(Logging::ERROR) << "The source ended inside a segment.";
    return -1;
  }
  const int r = lame_encode_flush(lame_handle.get(), area.data(), static_cast<int>(area.size()));
  if (r < 0) return -1;
  kept.insert(kept.end(), area.begin(), area.begin() + r);
  done = true;
  return 0;
}
