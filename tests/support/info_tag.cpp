#include "support/info_tag.h"

#include <cstring>

namespace {

uint32_t be(const uint8_t* p, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes; ++i) value = (value << 8) | p[i];
  return value;
}

// Length of the MPEG audio layer III frame whose header is at h; 0 when it is none.
size_t frame_length(const uint8_t* h) {
  static const int kMpeg1[16] = {0,   32,  40,  48,  56,  64,  80,  96,
                                 112, 128, 160, 192, 224, 256, 320, 0};
  static const int kMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
  static const int kRates[4][3] = {
      {11025, 12000, 8000}, {0, 0, 0}, {22050, 24000, 16000}, {44100, 48000, 32000}};
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0 || ((h[1] >> 1) & 3) != 1) return 0;
  const int version = (h[1] >> 3) & 3;
  const int bitrate_index = h[2] >> 4;
  const int rate_index = (h[2] >> 2) & 3;
  if (version == 1 || rate_index == 3 || bitrate_index == 0 || bitrate_index == 15) return 0;
  const int kbps = version == 3 ? kMpeg1[bitrate_index] : kMpeg2[bitrate_index];
  const int per_kbps = version == 3 ? 144000 : 72000;
  return static_cast<size_t>(per_kbps * kbps / kRates[version][rate_index] + ((h[2] >> 1) & 1));
}

}  // namespace

size_t mp3_stream_start(const std::vector<uint8_t>& file) {
  if (file.size() < 10 || std::memcmp(file.data(), "ID3", 3) != 0) return 0;
  const size_t body =
      (size_t{file[6]} << 21) | (size_t{file[7]} << 14) | (size_t{file[8]} << 7) | size_t{file[9]};
  const size_t footer = (file[5] & 0x10) ? 10 : 0;
  return 10 + body + footer;
}

bool read_info_tag(const std::vector<uint8_t>& file, size_t start, InfoTag& out) {
  if (start + 4 > file.size()) return false;
  const uint8_t* h = file.data() + start;
  const size_t length = frame_length(h);
  if (length == 0 || start + length > file.size()) return false;
  const bool mpeg1 = ((h[1] >> 3) & 3) == 3;
  const bool mono = (h[3] >> 6) == 3;
  const bool crc = (h[1] & 1) == 0;
  const size_t tag = 4 + (crc ? 2 : 0) + (mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17));
  if (tag + 156 > length) return false;
  const uint8_t* t = h + tag;
  const bool info = std::memcmp(t, "Info", 4) == 0;
  if (!info && std::memcmp(t, "Xing", 4) != 0) return false;
  out.frame_offset = start;
  out.frame_length = length;
  out.tag_offset = tag;
  out.cbr = info;
  out.frames = be(t + 8, 4);
  out.bytes = be(t + 12, 4);
  out.delay = static_cast<int>(be(t + 141, 2) >> 4);
  out.padding = static_cast<int>(be(t + 142, 2) & 0xFFF);
  out.music_length = be(t + 148, 4);
  out.music_crc = static_cast<uint16_t>(be(t + 152, 2));
  out.tag_crc = static_cast<uint16_t>(be(t + 154, 2));
  return true;
}
