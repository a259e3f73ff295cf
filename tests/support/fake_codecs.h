#pragma once

// Scripted Decoder and Encoder doubles for driving a Transcoder without real
// audio. The encoder writes into its Buffer the way the MP3 encoder does (tag
// at the front, a 128-byte tail at the end of the known or predicted size,
// audio appended without passing the tail, a flush that completes the head),
// so every byte of the output is predictable from the script.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "decoders/decoder.h"
#include "encoders/encoder.h"

class Buffer;

struct CodecScript {
  // Decoder behaviour.
  int open_result = 0;
  int read_tags_result = 0;
  int64_t mtime = 1000;
  std::vector<int> chunks;  // audio bytes per decode_chunk; after the last one: end
  int fail_chunk = -1;      // this chunk's first attempt answers -1 (nothing encoded)

  // Encoder behaviour.
  uint64_t tag_size = 64;
  uint64_t predicted = 4096;
  uint64_t flush_bytes = 16;
  int emit_result = 0;
  int flush_result = 0;
  bool whole_file = false;

  // What happened.
  std::string extension;  // as handed to the decoder factory
  std::string opened;     // path given to open_source
  int decode_calls = 0;   // including failed ones
  int flush_calls = 0;
  int64_t known_size = -1;             // the argument of emit_tags
  std::vector<std::string> destroyed;  // "decoder" / "encoder", in order

  uint64_t audio_bytes() const;
};

// The byte the fake encoder writes at output position pos of the audio.
uint8_t fake_audio_byte(uint64_t pos);
// Tag and tail bytes, recognisable at a glance.
inline constexpr uint8_t kFakeTagByte = 'I';
inline constexpr uint8_t kFakeTailByte = 'T';

class FakeDecoder : public Decoder {
 public:
  explicit FakeDecoder(std::shared_ptr<CodecScript> script) : script(std::move(script)) {}
  ~FakeDecoder() override;
  int open_source(const char* path) override;
  int64_t source_mtime() override { return script->mtime; }
  int read_tags(Encoder* encoder) override;
  int decode_chunk(Encoder* encoder) override;

 private:
  std::shared_ptr<CodecScript> script;
  size_t next = 0;
  bool failed_once = false;
};

class FakeEncoder : public Encoder {
 public:
  FakeEncoder(std::shared_ptr<CodecScript> script, Buffer* buffer)
      : script(std::move(script)), buffer(buffer) {}
  ~FakeEncoder() override;
  int begin_stream(uint64_t, int, int) override { return 0; }
  void add_text_tag(int, const char*) override {}
  void add_picture(const char*, int, const char*, const uint8_t*, int) override {}
  void apply_gain(double) override {}
  int emit_tags(uint64_t known_size) override;
  uint64_t predicted_size() override { return script->predicted; }
  // count is the number of audio bytes to append.
  int encode_samples(const int32_t* const* channels, int count, int bits_per_sample) override;
  int flush_stream() override;
  bool wants_whole_file() override { return script->whole_file; }

 private:
  void append_audio(uint64_t count, bool extend);

  std::shared_ptr<CodecScript> script;
  Buffer* buffer;
  uint64_t written = 0;  // audio bytes produced so far
};
