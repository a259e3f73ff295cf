#pragma once

#include <vorbis/vorbisfile.h>

#include <cstdint>

#include "decoders/decoder.h"

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

 private:
  int64_t mtime = 0;
  OggVorbis_File vorbis_file;
  vorbis_info* info = nullptr;
  int section = 0;
};
