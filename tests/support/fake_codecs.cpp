#include "fake_codecs.h"

#include <numeric>

#include "app/settings.h"
#include "transcode/buffer.h"

uint64_t CodecScript::audio_bytes() const {
  return std::accumulate(chunks.begin(), chunks.end(), uint64_t{0});
}

uint8_t fake_audio_byte(uint64_t pos) {
  return static_cast<uint8_t>((pos * 131 + 7) % 251);
}

FakeDecoder::~FakeDecoder() {
  script->destroyed.push_back("decoder");
}

int FakeDecoder::open_source(const char* path) {
  script->opened = path;
  return script->open_result;
}

int FakeDecoder::read_tags(Encoder* encoder) {
  if (script->read_tags_result == -1) return -1;
  encoder->add_text_tag(0, "Title");
  return script->read_tags_result;
}

int FakeDecoder::decode_chunk(Encoder* encoder) {
  ++script->decode_calls;
  if (next == script->chunks.size()) return 1;
  if (static_cast<int>(next) == script->fail_chunk && !failed_once) {
    failed_once = true;
    return -1;
  }
  if (encoder->encode_samples(nullptr, script->chunks[next], 16) == -1) return -1;
  ++next;
  return 0;
}

FakeEncoder::~FakeEncoder() {
  script->destroyed.push_back("encoder");
  // Touch the buffer's storage: if the Buffer were gone already, the
  // address sanitizer reports it here.
  uint8_t first = 0;
  if (buffer->head_size() > 0) buffer->copy_into(&first, 0, 1);
}

int FakeEncoder::emit_tags(uint64_t known_size) {
  script->known_size = static_cast<int64_t>(known_size);
  if (script->emit_result == -1) return -1;
  const uint64_t size = known_size != 0 ? known_size : script->predicted;
  const std::vector<uint8_t> tag(script->tag_size, kFakeTagByte);
  const std::vector<uint8_t> tail(128, kFakeTailByte);
  buffer->append(tag, true);
  buffer->set_tail(tail, size - 128);
  return 0;
}

void FakeEncoder::append_audio(uint64_t count, bool extend) {
  std::vector<uint8_t> bytes(count);
  for (auto& byte : bytes) byte = fake_audio_byte(written++);
  buffer->append(bytes, extend);
}

int FakeEncoder::encode_samples(const int32_t* const*, int count, int) {
  append_audio(static_cast<uint64_t>(count), false);
  return 0;
}

int FakeEncoder::flush_stream() {
  ++script->flush_calls;
  if (script->flush_result == -1) return -1;
  const bool exact = settings.statcachesize != 0;
  append_audio(script->flush_bytes, exact);
  if (exact) {
    buffer->fit_tail_to_head();
  } else {
    buffer->fit_head_to_tail();
  }
  return static_cast<int>(script->flush_bytes);
}
