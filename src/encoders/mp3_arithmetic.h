#pragma once

#include <cstdint>
#include <vector>

// The pure arithmetic of the MP3 encoder, kept apart so it can be checked
// without a LAME state.

// A bits_per_sample-bit sample moved to the top of 32 bits (bits shifted out are lost).
// bits_per_sample must be 1 to 32.
int32_t scale_to_32_bits(int32_t sample, int bits_per_sample);

// LAME's input from count samples at first of channels: each scaled as above, into left and
// right (right silent unless stereo).
void scale_channels(const int32_t* const* channels, int first, int count, int bits_per_sample,
                    bool stereo, std::vector<int>& left, std::vector<int>& right);

// Length of frames CBR frames: frames * samples_per_frame / 8 * kbps * 1000 / samplerate
// (144000 per frame and kbit/s for MPEG-1's 1152 samples, half that for the 576 of the
// lower sample rates). A sample rate of 0 (LAME not initialised) or a negative product
// counts no bytes.
uint64_t cbr_audio_bytes(int frames, int samples_per_frame, int bitrate_kbps, int samplerate);

// Predicted output size: head_size (the ID3v2 tag and a CBR information frame before the
// audio) + the audio as cbr_audio_bytes counts it, plus the ID3v1 tag (CBR) or a fixed
// allowance that covers the VBR information frame.
uint64_t predict_size(int frames, int samples_per_frame, int bitrate_kbps, int samplerate,
                      uint64_t head_size, bool vbr);

constexpr uint64_t kId3v1Bytes = 128;

// The size of a file whose ID3v2 tag takes id3v2_size bytes: a remembered size, unless it is
// too small to hold both tags and so cannot be this file's; then the prediction.
uint64_t output_size(uint64_t known_size, uint64_t id3v2_size, uint64_t predicted);

// Duration in whole milliseconds; sample_rate must be positive.
uint64_t length_millis(uint64_t total_samples, uint64_t sample_rate);

// The linear factor of a gain in decibels, as LAME's scale takes it.
float gain_scale(double decibels);
