#pragma once

#include <lame/lame.h>

#include <cstddef>
#include <cstdint>
#include <string>

// The flush area, and the fixed part of an encoding area: LAME's worst case for one
// call is 1.25 bytes per sample plus this, so a block never needs a second call.
constexpr size_t kFlushArea = 7200;
// The largest LAME information frame (320 kbit/s at 8 kHz) fits.
constexpr size_t kInfoFrameArea = 2880;

// The LAME settings every MP3 output is made with, from the global settings; also routes
// LAME's messages into the log.
void configure_lame(lame_global_flags* gfp);

// Whether a stream of this rate and channel count can be encoded; logs why not at ERROR.
bool stream_format_usable(int sample_rate, int channels);

// The TLEN text: the stream's length in milliseconds.
std::string length_text(uint64_t total_samples, int sample_rate);

struct FrameGeometry;

// Whether a stream begins with an information frame that this side writes before encoding:
// for CBR with gapless playback on. (LAME completes its own frame for VBR at the end.)
bool leads_with_info_frame();

// The predicted size of an output whose ID3v2 tag takes id3v2_size bytes, from its geometry:
// the CBR frames at LAME's bitrate, or room for VBR frames at the bitrate setting.
uint64_t predicted_mp3_size(const FrameGeometry& geometry, uint64_t id3v2_size);
