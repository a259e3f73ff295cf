#include "encoders/mp3_encoder.h"

#include <string>

#include "app/settings.h"
#include "encoders/lame_messages.h"
#include "encoders/mp3_arithmetic.h"
#include "logging/logger.h"

Mp3Encoder::Mp3Encoder(Buffer* buffer) : buffer(buffer) {
  tag.reset(id3_tag_new());
  Logging::Logger(Logging::DEBUG) << "LAME ready to initialize.";
  lame_handle.reset(lame_init());
  if (!usable()) return;

  add_text_tag(Software, "OLVEX");

  lame_global_flags* gfp = lame_handle.get();
  if (settings.vbr) {
    lame_set_VBR(gfp, vbr_rh);  // value 1 of LAME's mode enumeration
    lame_set_VBR_q(gfp, settings.quality);
    lame_set_VBR_max_bitrate_kbps(gfp, settings.bitrate);
  } else {
    lame_set_quality(gfp, settings.quality);
    lame_set_brate(gfp, settings.bitrate);
  }
  // The information frame is only worth its placeholder when the bitrate varies.
  lame_set_bWriteVbrTag(gfp, settings.vbr ? 1 : 0);

  route_lame_messages(gfp);
}

int Mp3Encoder::begin_stream(uint64_t total_samples, int sample_rate, int channels) {
  if (!usable()) return -1;
  // The length tag divides by the rate; a stream without one cannot be encoded anyway.
  if (sample_rate <= 0) {
    Logging::Logger(Logging::ERROR) << "Invalid sample rate " << sample_rate << ".";
    return -1;
  }
  // LAME ignores other counts and stays at two, which would read a channel that is not there.
  if (channels < 1 || channels > 2) {
    Logging::Logger(Logging::ERROR) << "Unsupported channel count " << channels << ".";
    return -1;
  }
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

  const std::string length = std::to_string(length_millis(total_samples, sample_rate));
  add_text_tag(Length, length.c_str());
  return 0;
}

void Mp3Encoder::apply_gain(double decibels) {
  if (!usable()) return;
  Logging::Logger(Logging::DEBUG) << "LAME setting gain to " << decibels << ".";
  lame_set_scale(lame_handle.get(), gain_scale(decibels));
}

bool Mp3Encoder::wants_whole_file() {
  return settings.vbr != 0;
}
