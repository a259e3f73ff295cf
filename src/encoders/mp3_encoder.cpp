#include "encoders/mp3_encoder.h"

#include <string>

#include "app/settings.h"
#include "encoders/info_frame.h"
#include "encoders/lame_setup.h"
#include "encoders/mp3_arithmetic.h"
#include "logging/logger.h"
#include "transcode/buffer.h"

Mp3Encoder::Mp3Encoder(Buffer* buffer) : buffer(buffer) {
  Logging::Logger(Logging::DEBUG) << "LAME ready to initialize.";
  lame_handle.reset(lame_init());
  if (!usable()) return;

  add_text_tag(Software, "OLVEX");
  configure_lame(lame_handle.get());
}

int Mp3Encoder::begin_stream(uint64_t total_samples, int sample_rate, int channels) {
  if (!usable() || !stream_format_usable(sample_rate, channels)) return -1;
  lame_global_flags* gfp = lame_handle.get();
  lame_set_num_samples(gfp, total_samples);
  lame_set_in_samplerate(gfp, sample_rate);
  lame_set_num_channels(gfp, channels);
  Logging::Logger(Logging::DEBUG) << "LAME partially initialized.";

  if (lame_init_params(gfp) == -1) {
    Logging::Logger(Logging::ERROR) << "lame_init_params failed.";
    return -1;
  }
  Logging::Logger(Logging::DEBUG) << "LAME initialized.";

  geometry = geometry_of(gfp);
  std::vector<uint8_t> lame_frame;
  if (leads_with_info_frame() && lame_info_frame(sample_rate, channels, lame_frame)) {
    info = info_frame(lame_frame, info_frame_stream(geometry, total_samples, sample_rate));
  }
  geometry.info_frame_bytes = static_cast<int>(info.size());

  add_text_tag(Length, length_text(total_samples, sample_rate).c_str());
  return 0;
}

void Mp3Encoder::add_text_tag(int kind, const char* value) {
  if (usable()) tags.add_text_tag(kind, value);
}

void Mp3Encoder::add_picture(const char* mime_type, int picture_type, const char* description,
                             const uint8_t* data, int data_length) {
  if (usable()) tags.add_picture(mime_type, picture_type, description, data, data_length);
}

int Mp3Encoder::emit_tags(uint64_t known_size) {
  if (!usable() || !buffer) return -1;
  id3v2_size = tags.id3v2_size();
  buffer->append(tags.render_id3v2(id3v2_size), true);
  // Complete before any audio exists, so the head of the file reads the same at any time.
  buffer->append(info, true);
  buffer->set_tail(tags.render_id3v1(),
                   output_size(known_size, id3v2_size, predicted_size()) - kId3v1Bytes);
  return 0;
}

uint64_t Mp3Encoder::predicted_size() {
  return usable() ? predicted_mp3_size(geometry, id3v2_size) : 0;
}

void Mp3Encoder::apply_gain(double decibels) {
  if (!usable()) return;
  Logging::Logger(Logging::DEBUG) << "LAME setting gain to " << decibels << ".";
  lame_set_scale(lame_handle.get(), gain_scale(decibels));
}

bool Mp3Encoder::wants_whole_file() {
  return settings.vbr != 0;
}

bool Mp3Encoder::segment_layout(SegmentLayout& layout) {
  if (!usable() || settings.vbr) return false;
  lame_global_flags* gfp = lame_handle.get();
  // Where LAME resamples, a segment's first input sample would not fall on a frame's.
  if (lame_get_in_samplerate(gfp) != lame_get_out_samplerate(gfp)) return false;
  layout.sample_rate = lame_get_out_samplerate(gfp);
  layout.channels = lame_get_num_channels(gfp);
  layout.samples_per_frame = lame_get_framesize(gfp);
  layout.bitrate = lame_get_brate(gfp);
  layout.frames = lame_get_totalframes(gfp);
  return layout.frames > 0;
}
