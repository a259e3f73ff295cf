#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "encoders/segment_layout.h"
#include "encoders/tag_kind.h"

class Buffer;

// Turns the tags and decoded audio of one source into one output file in a Buffer.
// Results: 0 success, -1 failure (flush_stream: flushed byte count or -1).
class Encoder {
 public:
  virtual ~Encoder() = default;
  virtual int begin_stream(uint64_t total_samples, int sample_rate, int channels) = 0;
  virtual void add_text_tag(int kind, const char* value) = 0;
  virtual void add_picture(const char* mime_type, int picture_type, const char* description,
                           const uint8_t* data, int data_length) = 0;
  virtual void apply_gain(double decibels) = 0;
  virtual int emit_tags(uint64_t known_size) = 0;
  virtual uint64_t predicted_size() = 0;
  virtual int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) = 0;
  virtual int flush_stream() = 0;
  virtual bool wants_whole_file() = 0;
  // After begin_stream: whether the audio can be made in independent segments, and their
  // layout (all but audio_start, which the caller knows).
  virtual bool segment_layout(SegmentLayout& layout) {
    (void)layout;
    return false;
  }
};

// An encoder for exactly "mp3", bound to buffer (which may be absent); otherwise none.
std::unique_ptr<Encoder> make_encoder(const std::string& desttype, Buffer* buffer);

// What measures the output of that encoder without encoding: it takes the same calls, and
// its output_size() is the size the encoder's Buffer would report. None where there is no
// encoder.
class Mp3SizeProbe;
std::unique_ptr<Mp3SizeProbe> make_size_probe(const std::string& desttype);
