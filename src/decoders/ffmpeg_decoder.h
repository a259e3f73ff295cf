#pragma once

#include <cstdint>
#include <string>

#include "decoders/decoder.h"
#include "decoders/ffmpeg_handles.h"
#include "decoders/seek_landing.h"

// Decodes any audio FFmpeg reads (Opus, WavPack, ALAC, AAC, Monkey's Audio, WAV, AIFF, TTA,
// Ogg FLAC, WMA, Matroska, Musepack, TAK, Shorten, DSD, AC-3, DTS, surround FLAC and Vorbis)
// into mono or stereo integer samples, one frame per decode_chunk.
class FfmpegDecoder : public Decoder {
 public:
  // demuxer: FFmpeg's names of the containers the file may hold, comma-separated and tried
  // in turn ("wv", "mpc8,mpc", ...); empty to probe the content.
  explicit FfmpegDecoder(std::string demuxer);

  int open_source(const char* path) override;
  int64_t source_mtime() override { return mtime; }
  int read_tags(Encoder* encoder) override;
  int decode_chunk(Encoder* encoder) override;
  int seek_to_sample(uint64_t sample) override;
  bool refused() const override { return protected_content; }

 private:
  bool open_container(const char* path);
  bool find_audio_stream();
  bool open_codec();
  void scan_tags(Encoder* encoder);
  int next_frame();
  bool prepare_resampler(const AVFrame* input);
  // Samples handed to the encoder, or -1; a null input drains the converter.
  int encode(const AVFrame* input, Encoder* encoder);
  int finish_stream(Encoder* encoder);
  int fail(const char* message);
  // Seeking: 0 landed, 1 this way cannot land (try the next), -1 failed.
  int seek_by_timestamp(uint64_t sample, uint64_t preroll);
  int seek_by_decoding(uint64_t sample);
  int decode_to_landing();
  // The frame's timestamp in the stream's time base, or AV_NOPTS_VALUE.
  static int64_t frame_time(const AVFrame* decoded);

  std::string demuxer;
  std::string path;  // to start afresh where seeking fails
  int64_t mtime = 0;
  FormatContext format;
  CodecContext codec;
  Resampler resampler;
  Packet packet;
  Frame frame;
  const AVStream* stream = nullptr;

  int sample_rate = 0;
  int channels = 0;  // as announced: 1 or 2
  uint64_t total_samples = 0;
  bool length_exact = false;  // told by the container, not estimated
  uint64_t decoded_samples = 0;

  // What the resampler was set up for; a frame that differs rebuilds it.
  int input_format = -1;
  int input_rate = 0;
  ChannelLayout input_layout;

  // The timestamp of a full decode's first sample, taken from the first frame decoded.
  int64_t origin = AV_NOPTS_VALUE;
  bool origin_known = false;
  SeekLanding landing;  // what a seek decoded from its target on

  bool draining = false;
  bool ended = false;
  bool failed = false;
  bool protected_content = false;
};
