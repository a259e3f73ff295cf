#pragma once

// An Encoder that records every call it receives, for decoder and transcoder
// tests. Each call becomes one line of text in calls (numbers in %g form), and
// the arguments worth comparing exactly are kept as values too. The results of
// begin_stream and encode_samples can be scripted.

#include <cstdint>
#include <string>
#include <vector>

#include "encoders/encoder.h"

class RecordingEncoder : public Encoder {
 public:
  struct PictureCall {
    std::string mime_type;
    int picture_type;
    std::string description;
    std::vector<uint8_t> data;
    int data_length;
  };

  int begin_stream(uint64_t total_samples, int sample_rate, int channels) override;
  void add_text_tag(int kind, const char* value) override;
  void add_picture(const char* mime_type, int picture_type, const char* description,
                   const uint8_t* data, int data_length) override;
  void apply_gain(double decibels) override;
  int emit_tags(uint64_t known_size) override;
  uint64_t predicted_size() override;
  int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) override;
  int flush_stream() override;
  bool wants_whole_file() override { return whole_file; }

  // Calls whose first word is name, in order.
  std::vector<std::string> calls_named(const std::string& name) const;

  // Scripted behaviour.
  int begin_stream_result = 0;
  int fail_encode_from = -1;  // encode_samples call index (0-based) from which -1 is returned
  int flush_result = 0;
  int emit_result = 0;
  uint64_t predicted = 0;
  bool whole_file = false;

  // What was received.
  std::vector<std::string> calls;
  std::vector<PictureCall> pictures;
  std::vector<double> gains;
  std::vector<int> piece_sizes;           // count of every encode_samples call
  std::vector<std::vector<int32_t>> pcm;  // all samples, per channel (as begin_stream announced)
  uint64_t total_samples = 0;
  int sample_rate = 0;
  int channels = 0;
};
