#include "decoders/musepack_length.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

namespace {

// The stream header comes first; a few packets of other kinds before it are tolerated.
constexpr int kMostPackets = 8;
constexpr size_t kMostLengthBytes = 9;

// A number of 7-bit groups, the high bit meaning "more follows". False past the end or a
// number too long.
bool read_varlen(const uint8_t* data, size_t size, size_t& at, uint64_t& value) {
  value = 0;
  for (size_t i = 0; i < kMostLengthBytes && at < size; ++i) {
    const uint8_t byte = data[at++];
    value = value << 7 | (byte & 0x7f);
    if (!(byte & 0x80)) return true;
  }
  return false;
}

}  // namespace

uint64_t musepack_sv8_samples(const char* path) {
  const int fd = open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  uint8_t head[4096];
  const ssize_t got = pread(fd, head, sizeof head, 0);
  close(fd);
  if (got < 4 || memcmp(head, "MPCK", 4) != 0) return 0;
  const size_t size = static_cast<size_t>(got);
  size_t at = 4;
  for (int packet = 0; packet < kMostPackets && at + 2 < size; ++packet) {
    const size_t start = at;
    const bool stream_header = head[at] == 'S' && head[at + 1] == 'H';
    at += 2;
    uint64_t length = 0;
    if (!read_varlen(head, size, at, length) || length < at - start) return 0;
    if (stream_header) {
      // A CRC and the stream version come before the count.
      at += 5;
      uint64_t samples = 0;
      return at < size && read_varlen(head, size, at, samples) ? samples : 0;
    }
    if (length > size - start) return 0;
    at = start + static_cast<size_t>(length);
  }
  return 0;
}
