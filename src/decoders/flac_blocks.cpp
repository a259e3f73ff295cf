#include "decoders/flac_blocks.h"

#include <cstring>

bool walk_flac_blocks(const HeadReader& file, off_t file_size,
                      const std::function<bool(int type, uint32_t length, off_t at)>& visit) {
  char marker[4];
  if (!file.read(marker, 4, 0) || std::memcmp(marker, "fLaC", 4) != 0) return false;
  off_t at = 4;
  for (bool last = false; !last;) {
    uint8_t header[4];
    if (!file.read(header, 4, at)) return false;
    at += 4;
    last = (header[0] & 0x80) != 0;
    const int type = header[0] & 0x7f;
    const uint32_t length = uint32_t{header[1]} << 16 | uint32_t{header[2]} << 8 | header[3];
    if (at + off_t{length} > file_size || !visit(type, length, at)) return false;
    at += length;
  }
  return true;
}
