#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdint>

#include "decoders/decoder.h"
#include "decoders/seek_landing.h"

// Decodes Ogg Vorbis (mono or stereo) through libvorbisfile, 4096 bytes of PCM per decode_chunk.
class VorbisDecoder : public Decoder {
 public:
  VorbisDecoder();
  ~VorbisDecoder() override;
  VorbisDecoder(const VorbisDecoder&) = delete;
  VorbisDecoder& operator=(const VorbisDecoder&) = delete;

  int open_source(const char* path) override;
  int64_t source_mtime() override { return mtime; }
  int read_tags(Encoder* encoder) override;
  int decode_chunk(Encoder* encoder) override;
  int seek_to_sample(uint64_t sample) override;

 private:
  int64_t mtime = 0;
  OggVorbis_File vorbis_file;
  vorbis_info* info = nullptr;
  int section = 0;
  SeekLanding landing;    // what a seek decoded from its target on
  bool past_end = false;  // sought at or past the last sample
};
