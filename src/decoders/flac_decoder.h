#pragma once

#include <FLAC++/decoder.h>
#include <FLAC++/metadata.h>

#include <cstdint>

#include "decoders/decoder.h"
#include "decoders/seek_landing.h"

// Decodes FLAC through libFLAC++'s file decoder, one frame per decode_chunk.
class FlacDecoder : public Decoder, private FLAC::Decoder::File {
 public:
  FlacDecoder() = default;

  int open_source(const char* path) override;
  int64_t source_mtime() override { return mtime; }
  int read_tags(Encoder* encoder) override;
  int decode_chunk(Encoder* encoder) override;
  void measure_only() override { measuring = true; }
  int seek_to_sample(uint64_t sample) override;

 private:
  ::FLAC__StreamDecoderWriteStatus write_callback(const ::FLAC__Frame* frame,
                                                  const FLAC__int32* const buffer[]) override;
  void metadata_callback(const ::FLAC__StreamMetadata* metadata) override;
  void error_callback(::FLAC__StreamDecoderErrorStatus status) override;

  void scan_comments(const ::FLAC__StreamMetadata_VorbisComment& block);
  int seek_by_decoding(uint64_t sample);

  Encoder* encoder = nullptr;
  int64_t mtime = 0;
  FLAC::Metadata::StreamInfo info;
  bool has_info = false;
  uint64_t decoded_samples = 0;
  FILE* source = nullptr;  // libFLAC's once initialised; read directly only to measure
  bool measuring = false;
  SeekLanding landing;    // what a seek decoded from its target on
  bool past_end = false;  // sought at or past the last sample
};
