#include <algorithm>

#include "decoders/ffmpeg_decoder.h"
#include "logging/logger.h"

namespace {

// How far before the target a seek starts, so that the decoder's state has converged by the
// target. Lossless codecs need nothing. FFmpeg calls most lossy audio codecs intra-only too,
// yet their output overlaps packets (MDCT) or carries predictors (Opus), so they get the
// container's pre-roll or a tenth of a second, whichever is more.
uint64_t preroll_samples(const AVCodecParameters* parameters) {
  const AVCodecDescriptor* descriptor = avcodec_descriptor_get(parameters->codec_id);
  if (descriptor && (descriptor->props & AV_CODEC_PROP_LOSSLESS)) return 0;
  return static_cast<uint64_t>(std::max(parameters->seek_preroll, parameters->sample_rate / 10));
}

}  // namespace

int64_t FfmpegDecoder::frame_time(const AVFrame* decoded) {
  return decoded->pts != AV_NOPTS_VALUE ? decoded->pts : decoded->best_effort_timestamp;
}

int FfmpegDecoder::seek_to_sample(uint64_t sample) {
  if (failed || !codec) return -1;
  landing.start(0, channels);
  if (length_exact && sample >= total_samples) {
    ended = true;
    return 0;
  }
  // The first frame fixes the origin of the timestamps; a target inside it lands at once.
  if (!origin_known) {
    landing.start(sample, channels);
    if (decode_chunk(&landing) < 0) return -1;
    if (landing.holding() || ended) return 0;
  }
  const uint64_t preroll = preroll_samples(stream->codecpar);
  // Close ahead, decoding on is cheaper than a seek, and exact; a source that cannot seek
  // (a pipe) has no other way, nor can it start afresh.
  const uint64_t near = preroll + static_cast<uint64_t>(sample_rate);
  const bool seekable = format->pb && (format->pb->seekable & AVIO_SEEKABLE_NORMAL);
  if (!ended && decoded_samples <= sample && (!seekable || sample - decoded_samples <= near)) {
    if (!seekable) {
      Logging::Logger(Logging::DEBUG)
          << "FFmpeg decoder: Source cannot seek; decoding on to sample " << sample << ".";
    }
    landing.start(sample - decoded_samples, channels);
    return decode_to_landing();
  }
  if (!seekable) return fail("Source cannot seek back.");
  const int status = seek_by_timestamp(sample, preroll);
  return status == 1 ? seek_by_decoding(sample) : status;
}

int FfmpegDecoder::seek_by_timestamp(uint64_t sample, uint64_t preroll) {
  if (origin == AV_NOPTS_VALUE) return 1;
  const AVRational per_sample = {1, sample_rate};
  const uint64_t from = sample > preroll ? sample - preroll : 0;
  const int64_t target =
      origin + av_rescale_q(static_cast<int64_t>(from), per_sample, stream->time_base);
  if (av_seek_frame(format.get(), stream->index, target, AVSEEK_FLAG_BACKWARD) < 0) return 1;
  avcodec_flush_buffers(codec.get());
  draining = false;
  ended = false;

  // Frames right after a seek may lack a timestamp until the demuxer finds one again.
  constexpr int kUntimedFrames = 32;
  for (int untimed = 0; untimed < kUntimedFrames; ++untimed) {
    // An end or damage right where the seek put us: the start is the surer way.
    if (next_frame() != 0) return 1;
    const int64_t at = frame_time(frame.get());
    if (at == AV_NOPTS_VALUE) {
      av_frame_unref(frame.get());
      continue;
    }
    const int64_t position = av_rescale_q(at - origin, stream->time_base, per_sample);
    // A damaged index may put us past the target, where nothing brings it back.
    if (position > static_cast<int64_t>(sample)) {
      av_frame_unref(frame.get());
      return 1;
    }
    decoded_samples = position > 0 ? static_cast<uint64_t>(position) : 0;
    landing.start(static_cast<uint64_t>(static_cast<int64_t>(sample) - position), channels);
    const int encoded = encode(frame.get(), &landing);
    av_frame_unref(frame.get());
    if (encoded < 0) return -1;
    return decode_to_landing();
  }
  return 1;
}

// Where the container cannot seek, a fresh start decoded and discarded up to the target:
// the same samples as a full decode, slower.
int FfmpegDecoder::seek_by_decoding(uint64_t sample) {
  Logging::Logger(Logging::DEBUG) << "FFmpeg decoder: Cannot seek to sample " << sample
                                  << "; decoding from the start.";
  resampler.reset();
  input_format = -1;
  input_rate = 0;
  stream = nullptr;
  codec.reset();
  format.reset();
  decoded_samples = 0;
  origin_known = false;
  draining = false;
  ended = false;
  failed = false;
  const std::string source = path;
  if (open_source(source.c_str()) != 0) return -1;
  landing.start(sample, channels);
  return decode_to_landing();
}

int FfmpegDecoder::decode_to_landing() {
  const int status = decode_until_landed(landing, [this](Encoder* e) { return decode_chunk(e); });
  // An end before the target is no failure: decode_chunk returns 1 from now on.
  return status < 0 ? -1 : 0;
}
