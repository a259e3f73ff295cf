#pragma once

#include "encoders/encoder.h"

// Takes every call and keeps nothing: the base of encoders that want only some of what a
// decoder hands over (its stream's parameters, its samples) and override just those.
class IgnoringEncoder : public Encoder {
 public:
  int begin_stream(uint64_t, int, int) override { return 0; }
  void add_text_tag(int, const char*) override {}
  void add_picture(const char*, int, const char*, const uint8_t*, int) override {}
  void apply_gain(double) override {}
  int emit_tags(uint64_t) override { return 0; }
  uint64_t predicted_size() override { return 0; }
  int encode_samples(const int32_t* const*, int, int) override { return 0; }
  int flush_stream() override { return 0; }
  bool wants_whole_file() override { return false; }
};
