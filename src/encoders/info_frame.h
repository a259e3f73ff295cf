#pragma once

#include <cstdint>
#include <span>
#include <vector>

// The figures of a CBR stream that its information frame records. Every one of them is known
// before any audio is encoded, which lets the frame lead the file from its first read.
struct InfoFrameStream {
  int frames = 0;            // audio frames after the information frame
  int kbps = 0;              // their bitrate
  int encoder_delay = 0;     // samples LAME puts before the audio
  int padding = 0;           // samples it puts after the audio, to the end of the last frame
  uint64_t audio_bytes = 0;  // length of the audio frames
};

struct FrameGeometry;

// The figures of a CBR stream of samples samples at in_rate, laid out as geometry says.
InfoFrameStream info_frame_stream(const FrameGeometry& geometry, uint64_t samples, int in_rate);

// LAME's information frame for an empty stream of the same configuration (which carries what
// LAME decides about itself: quality, version, lowpass, flags, stereo mode, preset), with this
// stream's figures written in: frame and byte counts, table of contents, delay and padding,
// music length, and the tag's CRC. The music CRC stays 0: the audio does not exist yet, and
// players do not check it. Empty when lame_frame is no information frame.
std::vector<uint8_t> info_frame(std::span<const uint8_t> lame_frame, const InfoFrameStream& stream);

// Samples of silence LAME appends so that delay, audio and padding fill whole frames.
int end_padding(int frames, int samples_per_frame, int encoder_delay, uint64_t output_samples);

// A stream's length after LAME's resampling from in_rate to out_rate: exact where the ratio
// of the rates divides the length, otherwise rounded down as LAME's resampler does.
uint64_t output_samples(uint64_t samples, int in_rate, int out_rate);

// The CRC-16 of LAME's tag (polynomial 0x8005, reflected, starting at 0).
uint16_t lame_tag_crc(std::span<const uint8_t> bytes);
