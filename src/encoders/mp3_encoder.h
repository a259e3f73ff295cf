#pragma once

#include <lame/lame.h>

#include <memory>
#include <vector>

#include "encoders/encoder.h"
#include "encoders/id3_tag_builder.h"
#include "encoders/lame_geometry.h"

// Encodes to MP3 with LAME and tags with libid3tag. Set-up lives in
// mp3_encoder.cpp, the tags in id3_tag_builder.cpp, the audio in mp3_audio.cpp.
class Mp3Encoder final : public Encoder {
 public:
  explicit Mp3Encoder(Buffer* buffer);
  ~Mp3Encoder() override = default;
  Mp3Encoder(const Mp3Encoder&) = delete;
  Mp3Encoder& operator=(const Mp3Encoder&) = delete;

  int begin_stream(uint64_t total_samples, int sample_rate, int channels) override;
  void add_text_tag(int kind, const char* value) override;
  void add_picture(const char* mime_type, int picture_type, const char* description,
                   const uint8_t* data, int data_length) override;
  void apply_gain(double decibels) override;
  int emit_tags(uint64_t known_size) override;
  uint64_t predicted_size() override;
  int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) override;
  int flush_stream() override;
  bool wants_whole_file() override;
  bool segment_layout(SegmentLayout& layout) override;

  // False when lame_init or id3_tag_new failed; every operation then fails or does nothing.
  bool usable() const { return lame_handle && tags.usable(); }

 private:
  struct LameCloser {
    void operator()(lame_global_flags* gfp) const { lame_close(gfp); }
  };
  // Released in reverse order: the tags before the LAME state.
  std::unique_ptr<lame_global_flags, LameCloser> lame_handle;
  Id3TagBuilder tags;
  uint64_t id3v2_size = 0;
  FrameGeometry geometry;     // known once begin_stream succeeded
  std::vector<uint8_t> info;  // the CBR information frame, when there is one
  Buffer* buffer;             // not owned; absent for start-up's test encoder
};
