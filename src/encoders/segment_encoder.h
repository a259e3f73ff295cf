#pragma once

#include <lame/lame.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "encoders/ignoring_encoder.h"
#include "encoders/segment_layout.h"

// Makes the frames of one segment of a CBR stream with an encoder of its own: it takes a
// decoder's calls (tags ignored), starts at the segment's start sample, encodes the pre-roll
// and throws it away, and keeps the segment's frames. The first kept frame borrows nothing
// from the frames before it, so segments made apart concatenate into one valid stream.
class SegmentEncoder final : public IgnoringEncoder {
 public:
  SegmentEncoder(const SegmentLayout& layout, int segment);
  ~SegmentEncoder() override = default;
  SegmentEncoder(const SegmentEncoder&) = delete;
  SegmentEncoder& operator=(const SegmentEncoder&) = delete;

  // Samples before the start sample that will still arrive (a decoder that could not seek)
  // and must be dropped.
  void skip_samples(uint64_t count) { to_skip = count; }
  // Whether every frame of the segment is made; further samples are ignored.
  bool complete() const { return done; }
  // The segment's bytes, once complete; empty after a failure.
  std::vector<uint8_t>& bytes() { return kept; }

  int begin_stream(uint64_t total_samples, int sample_rate, int channels) override;
  void apply_gain(double decibels) override;
  int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) override;
  // The source has ended: the last segment flushes its encoder; any other is cut short.
  int flush_stream() override;

 private:
  struct LameCloser {
    void operator()(lame_global_flags* gfp) const { lame_close(gfp); }
  };
  bool ready() const { return initialized; }
  int encode_piece(const int* left, const int* right, int count);
  int flush_nogap(bool keep);

  std::unique_ptr<lame_global_flags, LameCloser> lame_handle;
  const SegmentLayout layout;
  bool initialized = false;
  int preroll;
  int frames;  // of the segment
  bool last;
  bool cut = false;  // the pre-roll is behind
  bool done = false;
  uint64_t to_skip = 0;
  std::vector<uint8_t> kept;
  std::vector<uint8_t> area;
  std::vector<int> left, right;
};
