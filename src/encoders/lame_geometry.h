#pragma once

#include <cstdint>

// What an MP3 output's size depends on from LAME: how many frames it will announce for a
// stream, how many samples a frame holds and the sample rate and bitrate it encodes at.
struct FrameGeometry {
  int frames = 0;
  int samples_per_frame = 0;
  int out_samplerate = 0;
  int bitrate_kbps = 0;
};

// LAME's geometry for a stream under the current settings, without setting LAME up for it:
// one LAME state per distinct input rate, channel count and settings is set up once and
// kept, since lame_init_params is most of what a fresh encoder costs. false when LAME refuses
// the parameters (logged at ERROR once per combination).
bool lame_geometry(uint64_t total_samples, int sample_rate, int channels, FrameGeometry& out);
