#pragma once

#include "encoders/encoder.h"

// Hands every call on to another encoder; filters override the calls they change.
class ForwardingEncoder : public Encoder {
 public:
  explicit ForwardingEncoder(Encoder& target) : target(target) {}

  int begin_stream(uint64_t total_samples, int sample_rate, int channels) override {
    return target.begin_stream(total_samples, sample_rate, channels);
  }
  void add_text_tag(int kind, const char* value) override { target.add_text_tag(kind, value); }
  void add_picture(const char* mime_type, int picture_type, const char* description,
                   const uint8_t* data, int data_length) override {
    target.add_picture(mime_type, picture_type, description, data, data_length);
  }
  void apply_gain(double decibels) override { target.apply_gain(decibels); }
  int emit_tags(uint64_t known_size) override { return target.emit_tags(known_size); }
  uint64_t predicted_size() override { return target.predicted_size(); }
  int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) override {
    return target.encode_samples(channels, count, bits_per_sample);
  }
  int flush_stream() override { return target.flush_stream(); }
  bool wants_whole_file() override { return target.wants_whole_file(); }

 protected:
  Encoder& target;
};
