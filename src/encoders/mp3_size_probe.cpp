#include "encoders/mp3_size_probe.h"

#include "app/settings.h"
#include "encoders/lame_setup.h"
#include "encoders/mp3_arithmetic.h"
#include "encoders/tag_kind.h"

Mp3SizeProbe::Mp3SizeProbe() {
  add_text_tag(Software, "OLVEX");
}

int Mp3SizeProbe::begin_stream(uint64_t total_samples, int sample_rate, int channels) {
  if (!tags.usable() || !stream_format_usable(sample_rate, channels)) return -1;
  if (!lame_geometry(total_samples, sample_rate, channels, geometry)) return -1;
  add_text_tag(Length, length_text(total_samples, sample_rate).c_str());
  return 0;
}

void Mp3SizeProbe::add_text_tag(int kind, const char* value) {
  tags.add_text_tag(kind, value);
}

void Mp3SizeProbe::add_picture(const char* mime_type, int picture_type, const char* description,
                               const uint8_t* data, int data_length) {
  tags.add_picture(mime_type, picture_type, description, data, data_length);
}

int Mp3SizeProbe::emit_tags(uint64_t known_size) {
  if (!tags.usable()) return -1;
  id3v2_size = tags.id3v2_size();
  size = ::output_size(known_size, id3v2_size, predicted_size());
  return 0;
}

uint64_t Mp3SizeProbe::predicted_size() {
  return predict_size(geometry.frames, geometry.samples_per_frame, geometry.bitrate_kbps,
                      geometry.out_samplerate, id3v2_size, settings.vbr != 0);
}

bool Mp3SizeProbe::wants_whole_file() {
  return settings.vbr != 0;
}
