#include "decoders/flac_header.h"

#include <unistd.h>

#include <cstdint>
#include <cstring>

namespace {

constexpr size_t kId3Header = 10;
constexpr uint8_t kId3FooterFlag = 0x10;
// "fLaC", the block header, then STREAMINFO's block sizes and frame sizes.
constexpr size_t kChannelsAt = 4 + 4 + 12;

// Where the FLAC stream begins: after an ID3v2 tag when there is one.
off_t stream_start(int fd) {
  uint8_t head[kId3Header];
  if (pread(fd, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return 0;
  if (memcmp(head, "ID3", 3) != 0) return 0;
  off_t size = 0;
  for (int i = 6; i < 10; ++i) size = size << 7 | (head[i] & 0x7f);
  return static_cast<off_t>(kId3Header) + size + ((head[5] & kId3FooterFlag) ? 10 : 0);
}

}  // namespace

int flac_channels(int fd) {
  uint8_t head[kChannelsAt + 1] = {};
  const ssize_t got = pread(fd, head, sizeof head, stream_start(fd));
  if (got < 4 || memcmp(head, "fLaC", 4) != 0) return -1;
  // STREAMINFO is always the first block.
  if (got != static_cast<ssize_t>(sizeof head) || (head[4] & 0x7f) != 0) return 0;
  return ((head[kChannelsAt] >> 1) & 7) + 1;
}
