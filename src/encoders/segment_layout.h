#pragma once

#include <cstdint>

// Where the audio of a CBR stream splits into segments that independent encoders make.
// Frames are counted at the output rate, which segmenting requires to be the input rate.
struct SegmentLayout {
  int sample_rate = 0;  // of the source and of the stream
  int channels = 0;
  int samples_per_frame = 0;  // 1152, or 576 below 32 kHz
  int bitrate = 0;            // kbit/s
  int frames = 0;             // audio frames of the whole stream
  uint64_t audio_start = 0;   // file offset of the first audio frame

  // A multiple of 49 frames: LAME's one-byte CBR padding repeats every 49 frames at the
  // rates that have it and restarts with each encoder, so starting every encoder there keeps
  // every frame the size a continuous encoding gives it. 490 frames are 12.8 s at 44.1 kHz.
  static constexpr int kFrames = 490;
  // Real audio encoded before a segment and thrown away, so its first frames join cleanly.
  static constexpr int kPrerollFrames = 49;

  // The last segment takes a remainder shorter than half a segment, so that every encoder
  // has audio well past its cut.
  int count() const;
  int first_frame(int k) const { return k * kFrames; }
  int end_frame(int k) const { return k + 1 >= count() ? frames : (k + 1) * kFrames; }
  // Frames encoded and thrown away before segment k's first frame.
  int preroll(int k) const { return k == 0 ? 0 : kPrerollFrames; }
  // Source sample at which segment k's encoder starts.
  uint64_t start_sample(int k) const;
  // Bytes of frames [0, frame) of the stream: exact at segment boundaries.
  uint64_t bytes_before(int frame) const;
  uint64_t segment_offset(int k) const { return audio_start + bytes_before(first_frame(k)); }
  uint64_t segment_end(int k) const { return audio_start + bytes_before(end_frame(k)); }
  uint64_t audio_end() const { return audio_start + bytes_before(frames); }
  // The segment holding the byte at offset, which must lie in [audio_start, audio_end()).
  int segment_at(uint64_t offset) const;
};
