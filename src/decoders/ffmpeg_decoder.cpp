#include "decoders/ffmpeg_decoder.h"

#include <sys/stat.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "decoders/asf_protection.h"
#include "decoders/ffmpeg_log.h"
#include "decoders/ffmpeg_pictures.h"
#include "decoders/ffmpeg_tags.h"
#include "decoders/musepack_length.h"
#include "decoders/vorbis_comments.h"
#include "encoders/encoder.h"
#include "logging/logger.h"

namespace {

void log_error(const char* message) {
  Logging::Logger(Logging::ERROR) << "FFmpeg decoder: " << message;
}

bool is_dsd(AVCodecID id) {
  return id == AV_CODEC_ID_DSD_LSBF || id == AV_CODEC_ID_DSD_MSBF ||
         id == AV_CODEC_ID_DSD_LSBF_PLANAR || id == AV_CODEC_ID_DSD_MSBF_PLANAR;
}

// DSD is decoded at an eighth of its bit rate, far above the audible band and full of the
// modulator's noise; the resampler's low-pass takes that away on the way to CD's rate.
int output_rate(const AVCodecParameters* parameters) {
  constexpr int kDsdOutputRate = 44100;
  return is_dsd(parameters->codec_id) ? kDsdOutputRate : parameters->sample_rate;
}

// Containers whose stream length is a count of samples. Others give milliseconds, count a
// preroll or estimate from the bit rate, so a stream shorter than they say is no sign of damage.
bool counts_samples(const AVInputFormat* input) {
  const std::string name = input->name;
  return name == "ogg" || name == "wv" || name == "mov,mp4,m4a,3gp,3g2,mj2" || name == "ape" ||
         name == "wav" || name == "aiff" || name == "tta" || name == "flac";
}

bool parameters_known(const AVCodecParameters* parameters) {
  return parameters->codec_id != AV_CODEC_ID_NONE && parameters->sample_rate > 0 &&
         parameters->ch_layout.nb_channels > 0;
}

// The significant bits of a decoded sample format: what encode_samples is told.
int bits_of(const AVCodecContext* codec, int sample_format) {
  const auto format = static_cast<AVSampleFormat>(sample_format);
  const AVSampleFormat packed = av_get_packed_sample_fmt(format);
  if (packed == AV_SAMPLE_FMT_FLT || packed == AV_SAMPLE_FMT_DBL) return 32;
  const int bits = 8 * av_get_bytes_per_sample(format);
  const int raw = codec->bits_per_raw_sample;
  return raw > 0 && raw < bits && bits == 32 ? raw : bits;
}

}  // namespace

FfmpegDecoder::FfmpegDecoder(std::string demuxer) : demuxer(std::move(demuxer)) {
  route_ffmpeg_log();
}

int FfmpegDecoder::open_source(const char* path) {
  Logging::Logger(Logging::DEBUG) << "FFmpeg decoder: Opening " << demuxer << " source.";
  struct stat st;
  if (stat(path, &st) != 0) return fail("stat failed.");
  mtime = st.st_mtime;
  this->path = path;

  if (!open_container(path)) {
    // The content is probed next; only a probe that fails as well is an error.
    if (demuxer.empty()) return fail("Open failed.");
    Logging::Logger(Logging::INFO) << "FFmpeg decoder: Not a " << demuxer << " file.";
    failed = true;
    return -1;
  }
  if (std::string(format->iformat->name) == "asf" && asf_is_protected(path)) {
    protected_content = true;
    return fail("The file is protected by DRM; its audio cannot be decoded.");
  }
  if (!find_audio_stream()) return fail("No audio stream.");
  if (std::string(format->iformat->name) == "mpc8") {
    if (const uint64_t samples = musepack_sv8_samples(path)) total_samples = samples;
  }
  if (!open_codec()) return fail("Codec unsupported.");
  packet.reset(av_packet_alloc());
  frame.reset(av_frame_alloc());
  if (!packet || !frame) return fail("Out of memory.");
  return 0;
}

// The extension names the containers to try: no probing, so a damaged file fails here. Without
// a name FFmpeg probes the content, for a file whose name says nothing true about it.
bool FfmpegDecoder::open_container(const char* path) {
  if (demuxer.empty()) {
    AVFormatContext* opened = nullptr;
    if (avformat_open_input(&opened, path, nullptr, nullptr) < 0) return false;
    format.reset(opened);
    Logging::Logger(Logging::INFO)
        << "FFmpeg decoder: The content is " << format->iformat->name << ".";
    return true;
  }
  for (size_t start = 0; start <= demuxer.size();) {
    size_t end = demuxer.find(',', start);
    if (end == std::string::npos) end = demuxer.size();
    const AVInputFormat* input = av_find_input_format(demuxer.substr(start, end - start).c_str());
    AVFormatContext* opened = nullptr;
    if (input && avformat_open_input(&opened, path, input, nullptr) == 0) {
      format.reset(opened);
      return true;
    }
    start = end + 1;
  }
  return false;
}

bool FfmpegDecoder::find_audio_stream() {
  int index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  // Probing decodes a little; the headers of most containers make it unnecessary. It also
  // estimates a length that the header leaves out.
  if (index < 0 || !parameters_known(format->streams[index]->codecpar) ||
      (format->streams[index]->duration <= 0 && format->duration <= 0)) {
    Logging::Logger(Logging::DEBUG) << "FFmpeg decoder: Probing stream parameters.";
    if (avformat_find_stream_info(format.get(), nullptr) < 0) return false;
    index = av_find_best_stream(format.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
  }
  if (index < 0 || !parameters_known(format->streams[index]->codecpar)) return false;
  for (unsigned i = 0; i < format->nb_streams; ++i) {
    if (static_cast<int>(i) != index) format->streams[i]->discard = AVDISCARD_ALL;
  }
  stream = format->streams[index];

  const AVCodecParameters* parameters = stream->codecpar;
  sample_rate = output_rate(parameters);
  channels = parameters->ch_layout.nb_channels == 1 ? 1 : 2;
  if (stream->duration > 0) {
    int64_t samples = av_rescale_q(stream->duration, stream->time_base, AVRational{1, sample_rate});
    // An Ogg Opus length is its last granule position, which counts the pre-skip.
    if (parameters->codec_id == AV_CODEC_ID_OPUS) samples -= parameters->initial_padding;
    total_samples = samples > 0 ? static_cast<uint64_t>(samples) : 0;
    length_exact = total_samples > 0 && counts_samples(format->iformat);
  } else if (format->duration > 0) {
    total_samples = static_cast<uint64_t>(
        av_rescale_q(format->duration, AVRational{1, AV_TIME_BASE}, AVRational{1, sample_rate}));
  }
  return true;
}

bool FfmpegDecoder::open_codec() {
  const AVCodec* decoder = avcodec_find_decoder(stream->codecpar->codec_id);
  if (!decoder) return false;
  codec.reset(avcodec_alloc_context3(decoder));
  if (!codec || avcodec_parameters_to_context(codec.get(), stream->codecpar) < 0) return false;
  codec->pkt_timebase = stream->time_base;
  // One file is one request's work; the machine's cores belong to the other requests.
  codec->thread_count = 1;
  return avcodec_open2(codec.get(), decoder, nullptr) == 0;
}

int FfmpegDecoder::read_tags(Encoder* encoder) {
  if (!stream) return fail("No open source.");
  if (encoder->begin_stream(total_samples, sample_rate, channels) == -1) {
    return fail("Failed to set encoder stream parameters.");
  }
  scan_tags(encoder);
  add_attached_pictures(format.get(), encoder);
  return 0;
}

// The container's tags first; the audio stream's fill in names the container lacks,
// since some containers copy their tags into both.
void FfmpegDecoder::scan_tags(Encoder* encoder) {
  CommentScan scan(encoder);
  std::set<std::string> seen;
  for (const AVDictionary* metadata : {format->metadata, stream->metadata}) {
    std::set<std::string> names;
    const AVDictionaryEntry* entry = nullptr;
    while ((entry = av_dict_get(metadata, "", entry, AV_DICT_IGNORE_SUFFIX))) {
      for (const Comment& comment : ffmpeg_comments(entry->key, entry->value)) {
        if (seen.count(comment.name)) continue;
        names.insert(comment.name);
        scan.take(comment);
      }
    }
    seen.insert(names.begin(), names.end());
  }
  scan.finish();
}

int FfmpegDecoder::decode_chunk(Encoder* encoder) {
  if (failed) return -1;
  if (landing.holding()) {
    return landing.release(encoder) < 0 ? fail("Failed to encode samples.") : 0;
  }
  if (ended) return 1;
  if (!codec) return fail("No open source.");
  const int status = next_frame();
  if (status == 1) return finish_stream(encoder);
  if (status < 0) return -1;
  if (!origin_known) {
    origin = frame_time(frame.get());
    origin_known = true;
  }
  const int encoded = encode(frame.get(), encoder);
  av_frame_unref(frame.get());
  return encoded < 0 ? -1 : 0;
}

// 0 with a frame in `frame`, 1 at the end of the stream, -1 on a damaged stream.
int FfmpegDecoder::next_frame() {
  for (;;) {
    const int received = avcodec_receive_frame(codec.get(), frame.get());
    if (received == 0) return 0;
    if (received == AVERROR_EOF) return 1;
    if (received != AVERROR(EAGAIN) || draining) return fail("Decoding failed.");

    const int read = av_read_frame(format.get(), packet.get());
    if (read == AVERROR_EOF) {
      draining = true;
      if (avcodec_send_packet(codec.get(), nullptr) < 0) return fail("Decoding failed.");
      continue;
    }
    if (read < 0) return fail("Reading failed.");
    const bool ours = packet->stream_index == stream->index;
    const int sent = ours ? avcodec_send_packet(codec.get(), packet.get()) : 0;
    av_packet_unref(packet.get());
    if (sent < 0) return fail("Decoding failed.");
  }
}

bool FfmpegDecoder::prepare_resampler(const AVFrame* input) {
  if (resampler && input->format == input_format && input->sample_rate == input_rate &&
      av_channel_layout_compare(&input->ch_layout, &input_layout.layout) == 0) {
    return true;
  }
  ChannelLayout layout;
  if (input->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC) {
    av_channel_layout_default(&layout.layout, input->ch_layout.nb_channels);
  } else if (av_channel_layout_copy(&layout.layout, &input->ch_layout) < 0) {
    return false;
  }
  // More than two channels meet libswresample's standard downmix matrix.
  ChannelLayout output;
  av_channel_layout_default(&output.layout, channels);
  SwrContext* made = nullptr;
  if (swr_alloc_set_opts2(&made, &output.layout, AV_SAMPLE_FMT_S32P, sample_rate, &layout.layout,
                          static_cast<AVSampleFormat>(input->format), input->sample_rate, 0,
                          nullptr) < 0) {
    return false;
  }
  resampler.reset(made);
  if (swr_init(made) < 0) return false;
  input_format = input->format;
  input_rate = input->sample_rate;
  av_channel_layout_uninit(&input_layout.layout);
  return av_channel_layout_copy(&input_layout.layout, &input->ch_layout) == 0;
}

int FfmpegDecoder::encode(const AVFrame* input, Encoder* encoder) {
  if (input && !prepare_resampler(input)) {
    resampler.reset();
    return fail("Cannot convert the samples.");
  }
  if (!resampler) return 0;
  const int in_count = input ? input->nb_samples : 0;
  const int capacity = swr_get_out_samples(resampler.get(), in_count);
  if (capacity < 0) return fail("Cannot convert the samples.");
  if (capacity == 0) return 0;

  std::vector<std::vector<int32_t>> planes(channels, std::vector<int32_t>(capacity));
  uint8_t* out[2] = {};
  const int32_t* pointers[2] = {};
  for (int c = 0; c < channels; ++c) {
    out[c] = reinterpret_cast<uint8_t*>(planes[c].data());
    pointers[c] = planes[c].data();
  }
  const int count =
      swr_convert(resampler.get(), out, capacity,
                  input ? const_cast<const uint8_t**>(input->extended_data) : nullptr, in_count);
  if (count < 0) return fail("Cannot convert the samples.");
  if (count == 0) return 0;

  // Back from the converter's 32 bits to the source's depth.
  const int bits = bits_of(codec.get(), input_format);
  if (bits < 32) {
    for (auto& plane : planes) {
      for (int i = 0; i < count; ++i) plane[i] >>= 32 - bits;
    }
  }
  if (encoder->encode_samples(pointers, count, bits) < 0) return fail("Failed to encode samples.");
  decoded_samples += static_cast<uint64_t>(count);
  return count;
}

int FfmpegDecoder::finish_stream(Encoder* encoder) {
  int drained;
  while ((drained = encode(nullptr, encoder)) > 0) {
  }
  if (drained < 0) return -1;
  ended = true;
  // A source cut short must not pass for the whole stream.
  if (length_exact && decoded_samples < total_samples) {
    Logging::Logger(Logging::ERROR) << "FFmpeg decoder: Stream ended early (" << decoded_samples
                                    << " of " << total_samples << " samples).";
    failed = true;
    return -1;
  }
  Logging::Logger(Logging::DEBUG) << "FFmpeg decoder: Reached end of stream.";
  return 1;
}

int FfmpegDecoder::fail(const char* message) {
  log_error(message);
  failed = true;
  return -1;
}
