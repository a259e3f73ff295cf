#pragma once

// Finds and reads the information frame ("Info" or "Xing", with LAME's extension) that may
// lead an MP3 stream, written from the format for checking the encoder's files.

#include <cstddef>
#include <cstdint>
#include <vector>

struct InfoTag {
  size_t frame_offset = 0;  // in the file
  size_t frame_length = 0;
  size_t tag_offset = 0;  // in the frame: after the header and the side information
  bool cbr = false;       // "Info" rather than "Xing"
  uint32_t frames = 0;
  uint32_t bytes = 0;
  int delay = 0;
  int padding = 0;
  uint32_t music_length = 0;
  uint16_t music_crc = 0;
  uint16_t tag_crc = 0;
  // Offsets in the frame of the two CRC fields.
  size_t music_crc_at() const { return tag_offset + 152; }
  size_t tag_crc_at() const { return tag_offset + 154; }
};

// Where the MP3 stream starts: after an ID3v2 tag, when there is one.
size_t mp3_stream_start(const std::vector<uint8_t>& file);

// The information frame that starts the stream at start; false when its first frame is
// audio (or no frame at all).
bool read_info_tag(const std::vector<uint8_t>& file, size_t start, InfoTag& out);
