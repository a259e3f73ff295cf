#pragma once

#include <cstdint>

#include "encoders/encoder.h"
#include "encoders/id3_tag_builder.h"
#include "encoders/lame_geometry.h"

// Works out the size an Mp3Encoder would give a file from the same calls, without setting
// LAME up, rendering the tags or copying pictures. It takes the tags and the stream's
// parameters but encodes nothing.
class Mp3SizeProbe final : public Encoder {
 public:
  Mp3SizeProbe();

  int begin_stream(uint64_t total_samples, int sample_rate, int channels) override;
  void add_text_tag(int kind, const char* value) override;
  void add_picture(const char* mime_type, int picture_type, const char* description,
                   const uint8_t* data, int data_length) override;
  void apply_gain(double) override {}
  int emit_tags(uint64_t known_size) override;
  uint64_t predicted_size() override;
  int encode_samples(const int32_t* const*, int, int) override { return -1; }
  int flush_stream() override { return -1; }
  bool wants_whole_file() override;

  // The file's size once emit_tags succeeded, as the encoder's Buffer would report it.
  uint64_t output_size() const { return size; }

 private:
  Id3TagBuilder tags{true};
  FrameGeometry geometry;
  uint64_t id3v2_size = 0;
  uint64_t size = 0;
};
