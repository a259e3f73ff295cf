#include "encoders/lame_setup.h"

#include "app/settings.h"
#include "encoders/lame_geometry.h"
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

bool leads_with_info_frame() {
  return settings.gapless != 0 && settings.vbr == 0;
}

uint64_t predicted_mp3_size(const FrameGeometry& geometry, uint64_t id3v2_size) {
  const bool vbr = settings.vbr != 0;
  // Frames are counted at the output rate, so their length is too; dividing by the input
  // rate would under-predict a resampled stream and cut it when the cache is off. Below
  // 32 kHz a frame holds 576 samples, not 1152, and so half the bytes.
  const uint64_t head =
      id3v2_size + (leads_with_info_frame() ? static_cast<uint64_t>(geometry.info_frame_bytes) : 0);
  return predict_size(geometry.frames, geometry.samples_per_frame,
                      vbr ? settings.bitrate : geometry.kbps, geometry.out_samplerate, head, vbr);
}
