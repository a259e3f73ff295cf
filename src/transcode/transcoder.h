#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "cache/source_identity.h"
#include "decoders/decoder.h"
#include "encoders/encoder.h"
#include "fs/reader.h"
#include "transcode/buffer.h"
#include "transcode/finished_output.h"

class SegmentedOutput;

// Turns one source audio file into one MP3 output file, lazily, as reads need it.
class Transcoder : public Reader {
 public:
  explicit Transcoder(const std::string& source_path);
  ~Transcoder() override;

  // Opens the source, renders the tags and fixes the output size. false with errno EIO.
  bool initialize();
  int64_t read(char* destination, int64_t offset, uint64_t size) override;

  const Buffer& output() const { return buffer; }
  // The output file's size as announced: a segmented output keeps no Buffer.
  uint64_t size() const;
  // Whether the codecs are still held (they go once the source is exhausted).
  bool has_decoder() const { return decoder != nullptr; }
  bool has_encoder() const { return encoder != nullptr; }
  // Whether its audio is made in segments on the encode pool.
  bool segmented() const { return segments != nullptr; }

 protected:
  // The codec factories; tests substitute scripted codecs here.
  virtual std::unique_ptr<Decoder> create_decoder(std::string& extension);
  virtual std::unique_ptr<Encoder> create_encoder(Buffer* target);
  // Fresh decoders of the source for segments, which outlive no Transcoder call.
  // Given a name to open the source's file by, a decoder opened on it.
  virtual std::function<std::unique_ptr<Decoder>(const std::string&)> decoder_factory();

 private:
  bool encode_on_pool(int64_t offset, uint64_t size);
  // Encodes until [offset, offset + size) is in the Buffer (or the whole file, for VBR);
  // under the lock. false when the source fails or the output cannot be finished.
  bool encode_until(int64_t offset, uint64_t size);
  bool finish();
  void keep_on_disk();
  // Hands the audio to segments when the stream allows it; the codecs then go.
  void try_segmenting();
  OutputOrigin origin() const;
  uint64_t remembered_size() const;
  int64_t read_stored(char* destination, int64_t offset, uint64_t size);

  // The buffer comes first so the encoder, which writes into it, is destroyed before it.
  Buffer buffer;
  std::string source_path;
  std::optional<SourceIdentity> source_identity;
  std::string cache_key;  // what its size is remembered under
  std::unique_ptr<Encoder> encoder;
  std::unique_ptr<Decoder> decoder;
  // What the stats cache stamps the size with: the source's mtime, or a folder cover's
  // when that is newer, so that a changed cover makes a remembered size stale.
  int64_t inputs_mtime = 0;
  // The stored copy of a finished output, and its size, once it is on disk.
  std::unique_ptr<Reader> stored;
  uint64_t stored_size = 0;
  std::mutex mutex;
  // Set up by initialize and unchanged after; has its own lock.
  std::shared_ptr<SegmentedOutput> segments;
  std::atomic<uint64_t> jobs{0};  // names this Transcoder's encodings on the pool
};
