#include "encoders/lame_setup.h"

#include "app/settings.h"
#include "encoders/lame_messages.h"
#include "encoders/mp3_arithmetic.h"
#include "logging/logger.h"

void configure_lame(lame_global_flags* gfp) {
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

int encoding_bitrate(lame_global_flags* gfp) {
  return settings.vbr ? settings.bitrate : lame_get_brate(gfp);
}

bool stream_format_usable(int sample_rate, int channels) {
  // The length tag divides by the rate; a stream without one cannot be encoded anyway.
  if (sample_rate <= 0) {
    Logging::Logger(Logging::ERROR) << "Invalid sample rate " << sample_rate << ".";
    return false;
  }
  // LAME ignores other counts and stays at two, which would read a channel that is not there.
  if (channels < 1 || channels > 2) {
    Logging::Logger(Logging::ERROR) << "Unsupported channel count " << channels << ".";
    return false;
  }
  return true;
}

std::string length_text(uint64_t total_samples, int sample_rate) {
  return std::to_string(length_millis(total_samples, static_cast<uint64_t>(sample_rate)));
}
