#pragma once

#include <lame/lame.h>

#include <cstdint>
#include <vector>

// What an MP3 output's size depends on from LAME: how many frames it will announce for a
// stream, how many samples a frame holds, the rate and bitrate it encodes at, and the
// information frame that can lead a CBR stream.
struct FrameGeometry {
  int frames = 0;
  int samples_per_frame = 0;
  int out_samplerate = 0;
  // The bitrate of CBR frames: the setting, or the nearest one the output rate allows.
  int kbps = 0;
  int encoder_delay = 0;
  // Length of LAME's CBR information frame; 0 for VBR and where the frame cannot hold it.
  int info_frame_bytes = 0;
};

// The geometry of a LAME state whose parameters are initialised; info_frame_bytes stays 0.
FrameGeometry geometry_of(const lame_global_flags* gfp);

// LAME's geometry for a stream under the current settings, without setting LAME up for it:
// one LAME state per distinct input rate, channel count and settings is set up once and
// kept, since lame_init_params is most of what a fresh encoder costs. false when LAME refuses
// the parameters (logged at ERROR once per combination).
bool lame_geometry(uint64_t total_samples, int sample_rate, int channels, FrameGeometry& out);

// The information frame LAME writes for an empty CBR stream under the current settings,
// made once per combination like the geometry; empty where there is none.
bool lame_info_frame(int sample_rate, int channels, std::vector<uint8_t>& out);
