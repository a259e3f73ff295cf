#pragma once

#include <lame/lame.h>

#include <cstdint>
#include <string>

// The LAME settings every MP3 output is made with, from the global settings; also routes
// LAME's messages into the log.
void configure_lame(lame_global_flags* gfp);

// Whether a stream of this rate and channel count can be encoded; logs why not at ERROR.
// The bitrate a CBR stream is written at once lame_init_params has run: LAME lowers one its
// output rate cannot carry (8 kHz takes at most 64 kbit/s). VBR keeps the configured ceiling.
int encoding_bitrate(lame_global_flags* gfp);

bool stream_format_usable(int sample_rate, int channels);

// The TLEN text: the stream's length in milliseconds.
std::string length_text(uint64_t total_samples, int sample_rate);
