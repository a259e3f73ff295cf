#pragma once

#include <cstdint>
#include <memory>
#include <string>

class Encoder;

// Reads one source file and pushes its metadata, then its audio, into an Encoder.
// The encoder pointers are borrowed for the duration of a call.
class Decoder {
 public:
  virtual ~Decoder() = default;
  virtual int open_source(const char* path) = 0;   // 0 ready, -1 failed
  virtual int64_t source_mtime() = 0;              // seconds since the epoch
  virtual int read_tags(Encoder* encoder) = 0;     // 0 done, -1 failed
  virtual int decode_chunk(Encoder* encoder) = 0;  // 0 progress, 1 end, -1 failed
  // Tells the decoder, before read_tags, that only the output's size is wanted: it may then
  // pass pictures with their length and no data.
  virtual void measure_only() {}
  // After a failed open_source: the file is of the kind the decoder reads but cannot be
  // decoded (DRM), so reading its content as another kind is pointless.
  virtual bool refused() const { return false; }
  // Called after read_tags: the next sample decode_chunk delivers is sample `sample` of the
  // stream (counted as begin_stream's total counts them); at or past the end, decode_chunk
  // then returns 1 at once. Where the source cannot seek, the decoder decodes and discards up
  // to the target itself. 0 done, -1 failed (the decoder is then unusable).
  virtual int seek_to_sample(uint64_t sample) {
    (void)sample;
    return -1;
  }
};

// A decoder for "flac", "ogg", "oga", "opus", "wv", "m4a", "ape", "wav", "aif", "aiff", "tta",
// "wma", "mka", "webm", "aac", "mpc", "tak", "shn", "dsf", "dff", "ac3" or "dts" in any letter
// case; lower-cases extension in place. Opens no file.
std::unique_ptr<Decoder> make_decoder(std::string& extension);
// Whether make_decoder would make one, without making it (a FLAC decoder allocates its
// buffers as it is made, and listings ask this of every name).
bool has_decoder(std::string extension);
// Where a source of this extension stands when several sources would show under one name:
// the lower wins. -1 for an extension without a decoder.
int source_rank(std::string extension);

// The decoder for the file at path: make_decoder's, except that an Ogg file whose first
// stream is not Vorbis (Ogg FLAC, Opus) and any FLAC or Vorbis of more than two channels go
// to FFmpeg, whose one downmix serves every surround source, and that a file under an Ogg
// name that is no Ogg file has its content probed.
std::unique_ptr<Decoder> make_source_decoder(const std::string& path, std::string& extension);

// decoder opened on path; when it cannot open the file, FFmpeg probes the content and a
// decoder for what it finds is opened instead. Null when nothing can read it or decoder is.
std::unique_ptr<Decoder> open_source_decoder(std::unique_ptr<Decoder> decoder,
                                             const std::string& path);
